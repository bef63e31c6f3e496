#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/QueryOutcome.h"
#include "dicom/net/AssociationReport.h"
#include "dicom/net/NodeChecks.h"
#include "dicom/web/DicomWebChecks.h"

// The node checks of the Diagnostic tab: an echo, a probe, and the lines the
// operator reads of each. Free functions and plain values; on the calling
// thread.
namespace lumo::app {

// How an echo went: its report, and the failure if it did not succeed.
struct EchoOutcome {
    dicom::AssociationReport report;
    std::optional<QueryFailure> failure;

    bool Succeeded() const { return !failure; }
};

// A C-ECHO to the node; nothing raises.
EchoOutcome RunEcho(const dicom::DicomPeer& peer);
// The same check of a DICOMweb service (the first study asked for); nothing
// raises.
EchoOutcome RunEcho(const dicom::DicomWebService& service);

// "Echo réussi : NORVANEX@127.0.0.1:3100 en 4 ms", the node's implementation
// and its maximum PDU; or the failure's class name and message. For a
// DICOMweb service: "Echo DICOMweb réussi : <URL> en 4 ms", its answer and
// the authentication shown.
std::vector<std::string> EchoLines(const EchoOutcome& outcome);

// One line per probed service (accepted with its transfer syntax, or
// refused and why), then one per C-FIND check; or, when the node could not
// be reached, the failure's class name and message.
std::vector<std::string> ProbeLines(const dicom::DicomProbeResult& probe);
// For a DICOMweb service: what it answered without credentials (and the
// authentication it asks for), then each search with them; or, when it
// could not be reached, the failure's class name and message.
std::vector<std::string> ProbeLines(const dicom::DicomWebProbeResult& probe);

}  // namespace lumo::app
