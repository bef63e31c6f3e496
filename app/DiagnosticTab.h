#pragma once

#include <optional>

#include "app/NodeProfile.h"

namespace lumo::app {

class TFormTestWL;

// The actions of the tab "Diagnostic": echo and probe of the node of the
// fields, the export of the last query's responses, and the comparison of
// its answers with a second node's. Each lists its lines in the result list
// and shows the report of its associations on the tab. Echo, probe and
// comparison run as queries do: through the host's RunBusy, so that the
// window stays alive, with "Arrêter" the one control enabled, which stops
// them. Free functions over the form; the form's thread.

// Whether the echo answered Success.
bool EchoNode(TFormTestWL& form);
// Whether the probe reached the node and had an association accepted.
bool ProbeNode(TFormTestWL& form);
// The responses of the last query, as DICOM JSON or CSV by the extension
// of the file chosen.
void ExportLastResponses(TFormTestWL& form);
// The node of the fields profiled as a query runs: the window alive and
// "Arrêter" stopping it, the count of queries sent shown meanwhile, then the
// profile's lines in the result list (with `verbose`, the identifiers sent).
// The timed query runs `repeat` times. Nullopt when the fields name no
// valid node (the list says why).
std::optional<NodeProfile> ProfileNode(TFormTestWL& form, int repeat = 1, bool verbose = false);
// The query of the chosen kind to the node of the fields (A) and to the
// second address (B, the first one's for what is left empty); the report in
// the result list.
void CompareWithSecondNode(TFormTestWL& form);
// The whole report of the last exchange, as the tab shows it, to the
// clipboard ("Copier le rapport").
void CopyExchangeReport(TFormTestWL& form);

}  // namespace lumo::app
