#include "app/Diagnostics.h"

#include "app/AssociationText.h"
#include "app/VisibleText.h"

namespace lumo::app {

namespace {

// Why a probed service was not accepted, in words.
std::string RefusalText(const dicom::ProbedService& service) {
    if (service.context && service.context->result == dicom::ContextResult::NotAnswered)
        return "refusée (le nœud l'a omis de sa réponse à l'association)";
    if (service.context) return ContextResultText(*service.context);
    if (service.rejection)
        return "refusée (association rejetée : " + RejectionText(*service.rejection) + ")";
    if (service.failure.empty()) return "refusée (sans motif donné par le nœud)";
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

// "HTTP 200 OK, application/dicom+json, 1 réponse(s)".
std::string AnswerText(const dicom::HttpExchange& exchange) {
    std::string text = "HTTP " + std::to_string(exchange.status) +
                       (exchange.reason.empty() ? "" : " " + exchange.reason);
    if (!exchange.contentType.empty()) text += ", " + VisibleText(exchange.contentType);
    if (exchange.answers) text += ", " + std::to_string(*exchange.answers) + " réponse(s)";
    return text;
}

}  // namespace

EchoOutcome RunEcho(const dicom::DicomWebService& service) {
    EchoOutcome outcome;
    try {
        dicom::DicomWebEcho(service, outcome.report);
    } catch (const std::exception& e) {
        outcome.failure = QueryFailure::Of(e);
    }
    return outcome;
}

EchoOutcome RunEcho(const dicom::DicomPeer& peer) {
    EchoOutcome outcome;
    try {
        dicom::DicomEcho(peer, outcome.report);
    } catch (const std::exception& e) {
        outcome.failure = QueryFailure::Of(e, outcome.report);
    }
    return outcome;
}

std::vector<std::string> EchoLines(const EchoOutcome& outcome) {
    if (outcome.failure)
        return {outcome.failure->ClassName(), VisibleText(outcome.failure->message)};
    const dicom::AssociationReport& report = outcome.report;
    if (!report.serviceUrl.empty())
        return {
            "Echo DICOMweb réussi : " + report.serviceUrl + " en " +
                std::to_string(report.duration.count()) + " ms",
            "Réponse : " + (report.http.empty() ? std::string() : AnswerText(report.http.back())),
            "Authentification : " +
                (report.credentials.empty() ? std::string("aucune") : report.credentials)};
    return {"Echo réussi : " + report.calledAETitle + "@" + report.peerAddress + ":" +
                std::to_string(report.peerPort) + " en " + std::to_string(report.duration.count()) +
                " ms",
            "Implémentation distante : " + VisibleText(report.peerImplementationClassUID) + " " +
                VisibleText(report.peerImplementationVersionName),
            "PDU max distante : " + std::to_string(report.peerMaxPdu) + " octets"};
}

std::vector<std::string> ProbeLines(const dicom::DicomProbeResult& probe) {
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

std::vector<std::string> ProbeLines(const dicom::DicomWebProbeResult& probe) {
    if (!probe.Reached()) return {ErrorClassName(*probe.failureClass), VisibleText(probe.failure)};
    std::vector<std::string> lines;
    if (probe.anonymous) {
        const dicom::HttpExchange& asked = *probe.anonymous;
        std::string line = "Sans authentification : " + AnswerText(asked);
        if (asked.status == 401 || asked.status == 403) {
            line += asked.authenticate.empty()
                        ? ", le service refuse sans dire quelle authentification il demande"
                        : ", le service demande " + VisibleText(asked.authenticate);
        } else if (asked.status >= 200 && asked.status < 300) {
            line += ", aucune authentification demandée";
        }
        lines.push_back(line);
    }
    lines.push_back("Authentification montrée : " + (probe.report.credentials.empty()
                                                         ? std::string("aucune")
                                                         : probe.report.credentials));
    for (const dicom::DicomWebProbeResult::Search& search : probe.searches) {
        std::string line = "Recherche QIDO-RS " + search.resource + " : ";
        if (search.failure.empty() && search.exchange) {
            line += AnswerText(*search.exchange) + " en " +
                    std::to_string(search.exchange->duration.count()) + " ms";
        } else {
            line += "échec (" + VisibleText(search.failure) + ")";
        }
        lines.push_back(line);
    }
    return lines;
}

}  // namespace lumo::app
