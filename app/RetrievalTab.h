#pragma once

#include "app/QueryRequest.h"

namespace lumo::app {

class TFormTestWL;

// The actions of the tab "Récupération": a retrieval of what the fields
// name, and the keys taken from a block of the result list. Free functions
// over the form; the form's thread.

// A C-MOVE or C-GET as the fields and the tab ask it, run like a query:
// the window stays alive, the result list shows the live counts, "Arrêter"
// cancels it. The end lines go into the result list, the reports of its
// associations onto the Diagnostic tab and into the log. The outcome
// becomes the form's last query.
void RunRetrieval(TFormTestWL& form, QueryService service);

// The retrieval the fields and the tab make; a level or a store port the
// fields do not give raises EConvertError.
QueryRequest RetrievalRequestOf(const TFormTestWL& form, QueryService service);

// The block of the result list around the selected line (a C-FIND's
// answer) fills Dossier, StudyUID, SeriesUID and SOP Instance UID from its
// lines and sets the retrieval's level to the deepest of them; a block
// without a StudyUID line (a worklist answer) changes nothing.
void FillKeysFromBlock(TFormTestWL& form);

}  // namespace lumo::app
