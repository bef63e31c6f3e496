#include "app/Diagnostics.h"

#include <utility>

#include "app/AssociationText.h"
#include "app/VisibleText.h"

namespace lumo::app {

namespace {

// Why a probed service was not accepted, in words.
std::string RefusalText(const dicom::ProbedService& service) {
    if (service.context) return ContextResultText(*service.context);
    if (service.rejection)
        return "refusée (association rejetée : " + RejectionText(*service.rejection) + ")";
    return "refusée (" + VisibleText(service.failure) + ")";
}

std::string FindCheckText(const dicom::ProbedService::FindCheck& check) {
    if (!check.failure.empty()) return "échec (" + VisibleText(check.failure) + ")";
    const std::string responses = std::to_string(check.responses) + " réponse(s)";
    const std::uint16_t status = check.status.value_or(0);
    std::string text = StatusText(status);
    if (!check.errorComment.empty()) text += ", Error Comment : " + VisibleText(check.errorComment);
    for (std::uint32_t tag : check.offendingElements)
        text += ", Offending Element : " + TagText(tag);
    if (dicom::DimseStatus::IsCompleted(status))
        return "autorisé (" + responses + ", statut " + text + ")";
    return "refusé (" + responses + ", statut " + text + ")";
}

}  // namespace

EchoOutcome RunEcho(const dicom::DicomPeer& peer, std::stop_token stop) {
    EchoOutcome outcome;
    try {
        dicom::DicomEcho(peer, outcome.report, std::move(stop));
    } catch (const std::exception& e) {
        outcome.failure = QueryFailure::Of(e, outcome.report);
    }
    return outcome;
}

std::vector<std::string> EchoLines(const EchoOutcome& outcome) {
    if (outcome.Stopped()) return {"Echo interrompu"};
    if (outcome.failure)
        return {outcome.failure->ClassName(), VisibleText(outcome.failure->message)};
    const dicom::AssociationReport& report = outcome.report;
    return {"Echo réussi : " + report.calledAETitle + "@" + report.peerAddress + ":" +
                std::to_string(report.peerPort) + " en " + std::to_string(report.duration.count()) +
                " ms",
            "Implémentation distante : " + VisibleText(report.peerImplementationClassUID) + " " +
                VisibleText(report.peerImplementationVersionName),
            "PDU max distante : " + std::to_string(report.peerMaxPdu) + " octets"};
}

std::vector<std::string> ProbeLines(const dicom::DicomProbeResult& probe) {
    if (probe.stopped) return {"Sonde interrompue"};
    if (!probe.Reached()) return {ErrorClassName(*probe.failureClass), VisibleText(probe.failure)};
    std::vector<std::string> lines;
    for (const dicom::ProbedService& service : probe.services) {
        lines.push_back(
            ServiceText(service.sopClass) + " : " +
            (service.Accepted() ? ContextResultText(*service.context) : RefusalText(service)));
    }
    for (const dicom::ProbedService& service : probe.services) {
        if (service.find)
            lines.push_back("C-FIND " + ServiceText(service.sopClass) + " : " +
                            FindCheckText(*service.find));
    }
    return lines;
}

}  // namespace lumo::app
