#include "app/AssociationText.h"

#include <cstdio>
#include <string_view>

#include "app/VisibleText.h"
#include "dicom/net/DicomNames.h"

namespace lumo::app {

namespace {

using dicom::AssociationReport;

std::string Hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(value));
    return text;
}

// A standard name, or the value itself where the standard reserves it.
std::string NameOr(std::string_view name, unsigned value) {
    if (!name.empty()) return std::string(name);
    return "valeur réservée " + std::to_string(value);
}

const char* KindText(dicom::StatusKind kind) {
    switch (kind) {
        case dicom::StatusKind::Success:
            return "succès";
        case dicom::StatusKind::Pending:
            return "en cours";
        case dicom::StatusKind::Cancel:
            return "annulation";
        case dicom::StatusKind::Warning:
            return "avertissement";
        default:
            return "échec";
    }
}

// Whether the node said no more than "no": the operator then needs to know
// what was asked for and how to learn what the node offers.
bool SaidNoReason(const dicom::AssociationRejection& rejection) {
    return (rejection.source == 1 || rejection.source == 2) && rejection.reason == 1;
}

std::string AskedServices(const AssociationReport& report) {
    std::string services;
    for (const dicom::ProposedContext& context : report.contexts) {
        if (!services.empty()) services += ", ";
        services += ServiceText(context.abstractSyntax);
    }
    return services;
}

const char* const kProbeHint =
    "lumo4410-cli probe (bouton « Sonder » de l'onglet Diagnostic) montre les services qu'il "
    "accepte";

// Who this side is on a context: the standard's default role is SCU.
std::string RoleText(dicom::ContextRole role) {
    switch (role) {
        case dicom::ContextRole::Scp:
            return "SCP";
        case dicom::ContextRole::Both:
            return "SCU et SCP";
        default:
            return "SCU";
    }
}

// A report of more contexts than this (a C-GET's storage contexts, a
// node's proposals to the storage receiver) details the first one and
// those refused, and counts the others.
constexpr std::size_t kContextsInFull = 16;

bool Granted(const dicom::ProposedContext& context) {
    return context.proposedRole == dicom::ContextRole::Default ||
           context.acceptedRole == context.proposedRole ||
           context.acceptedRole == dicom::ContextRole::Both;
}

std::vector<std::string> ContextLines(const AssociationReport& report) {
    std::vector<std::string> lines;
    const bool many = report.contexts.size() > kContextsInFull;
    std::size_t counted = 0;
    std::string syntaxes;
    for (std::size_t i = 0; i < report.contexts.size(); ++i) {
        const dicom::ProposedContext& context = report.contexts[i];
        if (many && i > 0 && context.Accepted() && Granted(context)) {
            ++counted;
            const std::string syntax = TransferSyntaxText(context.acceptedTransferSyntax);
            if (syntaxes.find(syntax) == std::string::npos)
                syntaxes += (syntaxes.empty() ? "" : ", ") + syntax;
            continue;
        }
        lines.push_back("Contexte " + std::to_string(context.id) + " : " +
                        ServiceText(context.abstractSyntax) + " (" + context.abstractSyntax + ")");
        std::string proposed;
        for (const std::string& uid : context.transferSyntaxes)
            proposed += (proposed.empty() ? "" : ", ") + TransferSyntaxText(uid);
        lines.push_back("  proposé avec : " + proposed);
        lines.push_back("  " + ContextResultText(context));
        if (context.proposedRole != dicom::ContextRole::Default)
            lines.push_back(
                "  rôle de la console proposé : " + RoleText(context.proposedRole) +
                ", accordé : " + (context.Accepted() ? RoleText(context.acceptedRole) : "aucun"));
    }
    if (counted > 0)
        lines.push_back("Autres contextes acceptés : " + std::to_string(counted) + " (" + syntaxes +
                        ")");
    return lines;
}

std::string EndText(const AssociationReport& report) {
    if (report.rejection) return "association rejetée : " + RejectionText(*report.rejection);
    if (report.abort) return "interrompue par le nœud (A-ABORT, " + AbortText(*report.abort) + ")";
    if (report.peerClosed) return "connexion fermée par le nœud sans un mot";
    if (!report.connected) return "pas de connexion";
    if (!report.accepted) return "association non établie";
    if (report.released) return "association libérée";
    return "association interrompue par la console";
}

std::vector<std::string> ExchangeLines(const AssociationReport& report) {
    std::vector<std::string> lines;
    lines.push_back("Réponses : " + std::to_string(report.responses));
    if (report.cancel != dicom::CancelReason::None) {
        lines.push_back(std::string("Requête annulée par la console : ") +
                        (report.cancel == dicom::CancelReason::Limit ? "limite de réponses atteinte"
                                                                     : "arrêt demandé"));
    }
    if (report.finalStatus) lines.push_back("Statut final : " + StatusText(*report.finalStatus));
    if (report.CancelledByNode())
        lines.push_back(NodeCancelText(report) +
                        " : sans C-CANCEL de la console, probablement une limite de résultats "
                        "du nœud");
    if (!report.errorComment.empty())
        lines.push_back("Error Comment (0000,0902) : " + report.errorComment);
    if (!report.offendingElements.empty()) {
        std::string tags;
        for (std::uint32_t tag : report.offendingElements)
            tags += (tags.empty() ? "" : " ") + TagText(tag);
        lines.push_back("Offending Element (0000,0901) : " + tags);
    }
    return lines;
}

}  // namespace

std::string StatusText(std::uint16_t status) {
    const dicom::StatusMeaning meaning = dicom::DimseStatusMeaning(status);
    if (*meaning.name != '\0') return Hex4(status) + " " + meaning.name;
    return Hex4(status) + " (" + KindText(meaning.kind) +
           ", statut que le standard ne définit pas)";
}

std::string ServiceText(const std::string& sopClassUID) {
    const std::string_view name = dicom::ServiceName(sopClassUID);
    return name.empty() ? sopClassUID : std::string(name);
}

std::string TransferSyntaxText(const std::string& transferSyntaxUID) {
    const std::string_view name = dicom::TransferSyntaxName(transferSyntaxUID);
    return name.empty() ? transferSyntaxUID : std::string(name);
}

std::string ContextResultText(const dicom::ProposedContext& context) {
    if (context.Accepted() && !context.AcceptedAsProposed())
        return "faute de protocole du nœud : acceptée avec " +
               VisibleText(TransferSyntaxText(context.acceptedTransferSyntax)) +
               ", syntaxe de transfert qui ne lui a pas été proposée";
    if (context.Accepted())
        return "acceptée (" + VisibleText(TransferSyntaxText(context.acceptedTransferSyntax)) + ")";
    if (context.result == dicom::ContextResult::NotAnswered) return "sans réponse";
    return "refusée (" +
           NameOr(dicom::ContextResultName(context.result), static_cast<unsigned>(context.result)) +
           ")";
}

std::string RejectionText(const dicom::AssociationRejection& rejection) {
    return "rejet " + NameOr(dicom::RejectResultName(rejection.result), rejection.result) +
           ", source : " + NameOr(dicom::RejectSourceName(rejection.source), rejection.source) +
           ", raison : " +
           NameOr(dicom::RejectReasonName(rejection.source, rejection.reason), rejection.reason);
}

std::string AbortText(const dicom::AssociationAbort& abort) {
    std::string text = "source : " + NameOr(dicom::AbortSourceName(abort.source), abort.source);
    // Only a provider's abort gives a reason; a user's carries zero.
    if (abort.source == 2)
        text += ", raison : " + NameOr(dicom::AbortReasonName(abort.reason), abort.reason);
    return text;
}

std::string NodeCancelText(const dicom::AssociationReport& report) {
    return "Réponses interrompues par le nœud après " + std::to_string(report.responses) +
           " réponses (statut FE00 non demandé)";
}

std::string TagText(std::uint32_t tag) {
    return "(" + Hex4(static_cast<std::uint16_t>(tag >> 16)) + "," +
           Hex4(static_cast<std::uint16_t>(tag & 0xFFFF)) + ")";
}

// What TLS settled, or why it failed, and the certificate the node showed.
std::vector<std::string> TlsLines(const dicom::TlsReport& tls) {
    if (!tls.established)
        return {"TLS : échec" + (tls.failure.empty() ? std::string() : " (" + tls.failure + ")")};
    std::vector<std::string> lines{"TLS : " + tls.protocol + ", " + tls.cipherSuite};
    if (tls.peerSubject.empty()) {
        lines.push_back("  certificat distant : aucun");
    } else {
        lines.push_back("  certificat distant : " + tls.peerSubject);
        lines.push_back("  émis par : " + tls.peerIssuer);
        lines.push_back("  valide du " + tls.peerNotBefore + " au " + tls.peerNotAfter);
    }
    if (!tls.failure.empty()) lines.push_back("  puis : " + tls.failure);
    return lines;
}

// One request to a DICOMweb service: its URL, then what came back.
std::vector<std::string> HttpLines(const dicom::HttpExchange& exchange) {
    std::vector<std::string> lines{exchange.method + " " + exchange.url};
    std::string answer = "  → ";
    if (exchange.status == 0) {
        answer += "pas de réponse";
    } else {
        answer += "HTTP " + std::to_string(exchange.status) +
                  (exchange.reason.empty() ? "" : " " + VisibleText(exchange.reason)) + ", " +
                  (exchange.contentType.empty() ? "sans type" : VisibleText(exchange.contentType)) +
                  ", " + std::to_string(exchange.bytes) + " octets";
    }
    answer += ", " + std::to_string(exchange.duration.count()) + " ms";
    if (exchange.answers) answer += ", " + std::to_string(*exchange.answers) + " réponses";
    lines.push_back(answer);
    if (!exchange.authenticate.empty())
        lines.push_back("  WWW-Authenticate : " + VisibleText(exchange.authenticate));
    if (!exchange.warning.empty()) lines.push_back("  Warning : " + VisibleText(exchange.warning));
    return lines;
}

// The report of an exchange with a DICOMweb service.
std::vector<std::string> DicomWebReportLines(const AssociationReport& report) {
    std::vector<std::string> lines;
    lines.push_back("Échange " + report.command + " : " + report.serviceUrl);
    lines.push_back("Authentification : " +
                    (report.credentials.empty() ? std::string("aucune") : report.credentials));
    if (report.tls) {
        for (std::string& line : TlsLines(*report.tls)) lines.push_back(std::move(line));
    }
    for (const dicom::HttpExchange& exchange : report.http) {
        for (std::string& line : HttpLines(exchange)) lines.push_back(std::move(line));
    }
    lines.push_back("Durée : " + std::to_string(report.duration.count()) + " ms");
    for (std::string& line : ExchangeLines(report)) lines.push_back(std::move(line));
    if (report.truncation) lines.push_back(TruncationText(*report.truncation));
    return lines;
}

std::string TruncationText(const dicom::AssociationReport::Truncation& truncation) {
    std::string text = "Réponse tronquée par le service après " + std::to_string(truncation.after) +
                       " réponses : ";
    if (truncation.offsetIgnored) {
        text += "il renvoie sa première page quand la suite est demandée (offset)";
        if (!truncation.warning.empty()) text += " ; Warning : " + VisibleText(truncation.warning);
    } else {
        text += "Warning : " + VisibleText(truncation.warning);
    }
    return text;
}

std::vector<std::string> ReportLines(const AssociationReport& report) {
    if (!report.serviceUrl.empty()) return DicomWebReportLines(report);
    std::vector<std::string> lines;
    lines.push_back("Échange " + report.command + " : " + report.callingAETitle + " → " +
                    report.calledAETitle + " sur " + report.peerAddress + ":" +
                    std::to_string(report.peerPort));
    if (report.tls) {
        for (std::string& line : TlsLines(*report.tls)) lines.push_back(std::move(line));
    }
    for (std::string& line : ContextLines(report)) lines.push_back(std::move(line));
    lines.push_back("PDU max : " + std::to_string(report.ourMaxPdu) + " octets de ce côté, " +
                    (report.accepted ? std::to_string(report.peerMaxPdu) + " octets" : "inconnue") +
                    " du nœud");
    if (report.accepted)
        lines.push_back("Implémentation distante : " + report.peerImplementationClassUID + " " +
                        report.peerImplementationVersionName);
    lines.push_back("Fin : " + EndText(report));
    lines.push_back("Durée : " + std::to_string(report.duration.count()) + " ms");
    for (std::string& line : ExchangeLines(report)) lines.push_back(std::move(line));
    // What the node sent of itself (its implementation, an Error Comment, a
    // transfer syntax it named) reaches a terminal and the log: a control
    // character in it is shown, never passed on.
    for (std::string& line : lines) line = VisibleText(std::move(line));
    return lines;
}

std::string FailureDetail(const AssociationReport& report) {
    if (report.rejection) {
        // The error's message already gives the reason.
        const dicom::AssociationRejection& rejection = *report.rejection;
        std::string detail =
            "rejet " + NameOr(dicom::RejectResultName(rejection.result), rejection.result) +
            ", source : " + NameOr(dicom::RejectSourceName(rejection.source), rejection.source);
        if (SaidNoReason(rejection))
            detail += " ; service demandé : " + AskedServices(report) +
                      " ; le nœud ne dit pas pourquoi : " + kProbeHint;
        return detail;
    }
    if (report.abort) return "A-ABORT du nœud, " + AbortText(*report.abort);
    for (const dicom::ProposedContext& context : report.contexts) {
        if (report.accepted && !context.Accepted() &&
            context.result != dicom::ContextResult::NotAnswered)
            return "service demandé : " + ServiceText(context.abstractSyntax) + ", " +
                   ContextResultText(context) + " ; " + kProbeHint;
    }
    return {};
}

}  // namespace lumo::app
