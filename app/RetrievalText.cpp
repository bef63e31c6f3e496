#include "app/RetrievalText.h"

#include <cstdio>
#include <optional>

#include "app/AssociationText.h"
#include "dicom/net/DicomNames.h"

namespace lumo::app {

namespace {

using dicom::DimseStatus::Success;

constexpr std::uint16_t kMoveDestinationUnknown = 0xA801;
// Lists a node may make long are shown this far, then counted.
constexpr std::size_t kShownUids = 20;

std::string Count(const std::optional<std::uint32_t>& count) {
    return count ? std::to_string(*count) : "-";
}

std::string Service(const QueryOutcome& outcome) {
    return outcome.request.service == QueryService::Move ? "C-MOVE" : "C-GET";
}

// What a final status means for the operator, beside its standard name.
std::string Meaning(std::uint16_t status, const std::string& destination) {
    if (status == Success) return "toutes les sous-opérations ont réussi";
    if (status == dicom::DimseStatus::Cancel) return "sous-opérations arrêtées par l'annulation";
    if (status == 0xA701) return "le nœud manque de ressources pour compter les images demandées";
    if (status == 0xA702) return "le nœud manque de ressources pour lancer les envois";
    if (status == kMoveDestinationUnknown)
        return "le nœud ne connaît pas l'AE title " + destination;
    if ((status & 0xFF00) == 0xA900)
        return "l'identifiant ne convient pas au modèle : niveau ou clés refusés par le nœud";
    if (status == 0xAA00) return "aucune des trames demandées n'existe dans l'instance";
    if (status == 0xB000) return "des sous-opérations ont échoué ou averti";
    if ((status & 0xF000) == 0xC000) return "le nœud n'a pas pu traiter la demande";
    return "échec";
}

std::string Rate(double count, double seconds, const char* unit) {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f %s/s", seconds > 0 ? count / seconds : 0.0, unit);
    return text;
}

std::string Kinds(const std::vector<dicom::UidCount>& counts, bool services) {
    std::string text;
    for (const dicom::UidCount& entry : counts) {
        if (!text.empty()) text += ", ";
        text += (services ? ServiceText(entry.uid) : TransferSyntaxText(entry.uid)) + " (" +
                std::to_string(entry.count) + ")";
    }
    return text;
}

void AddCheckLine(const RetrievalOutcome& part, std::vector<std::string>& lines) {
    const std::uint64_t accepted = part.received.accepted;
    if (!part.expected) {
        lines.push_back("Attendu : inconnu (" +
                        (part.expectedFailure.empty() ? std::string("le nœud ne l'a pas dit")
                                                      : part.expectedFailure) +
                        ") · Reçues " + std::to_string(accepted));
        return;
    }
    std::string line =
        "Attendu " + std::to_string(*part.expected) + " · Reçues " + std::to_string(accepted);
    if (accepted < *part.expected)
        line += " : il en manque " + std::to_string(*part.expected - accepted);
    lines.push_back(line);
}

void AddTimes(const RetrievalOutcome& part, std::vector<std::string>& lines) {
    const double seconds = static_cast<double>(part.result.duration.count()) / 1000.0;
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.3f s", seconds);
    lines.push_back("Durée " + std::string(duration) + " · " +
                    Rate(static_cast<double>(part.received.received), seconds, "images") + " · " +
                    Rate(static_cast<double>(part.received.bytes) / 1e6, seconds, "Mo"));
}

void AddUidList(const std::vector<std::string>& uids, std::vector<std::string>& lines) {
    if (uids.empty()) return;
    lines.push_back("Failed SOP Instance UID List (0008,0058) : " + std::to_string(uids.size()) +
                    " instance" + (uids.size() > 1 ? "s" : ""));
    for (std::size_t i = 0; i < uids.size() && i < kShownUids; ++i) lines.push_back("  " + uids[i]);
    if (uids.size() > kShownUids)
        lines.push_back("  … et " + std::to_string(uids.size() - kShownUids) + " autres");
}

void AddFailures(const dicom::ReceivedTally& tally, std::vector<std::string>& lines) {
    for (const dicom::InstanceFailure& failure : tally.failures)
        lines.push_back("Instance en échec : " + failure.sopInstanceUid + " : " + failure.why);
    if (tally.failureCount > tally.failures.size())
        lines.push_back("… et " + std::to_string(tally.failureCount - tally.failures.size()) +
                        " autres instances en échec");
}

void AddConnections(const RetrievalOutcome& part, const std::string& nodeAddress,
                    std::vector<std::string>& lines) {
    for (const dicom::StoreConnection& connection : part.received.connections) {
        std::string line = "Le nœud s'est reconnecté depuis " + connection.address + " sous " +
                           connection.callingAETitle + ", en appelant " + connection.calledAETitle +
                           " : " + std::to_string(connection.instances) + " images";
        if (!connection.expectedTitle)
            line += " ; AE title appelé autre que la destination " + part.moveDestination;
        if (!connection.expectedAddress)
            line += " ; adresse autre que celle du nœud (" + nodeAddress + ")";
        lines.push_back(line);
    }
}

// The explanations of what went wrong, each with what to do.
void AddExplanations(const QueryOutcome& outcome, std::vector<std::string>& lines) {
    const RetrievalOutcome& part = *outcome.retrieval;
    const dicom::RetrieveResult& result = part.result;
    const bool move = outcome.request.service == QueryService::Move;
    const std::string here =
        part.localAddress.empty() ? std::string("l'adresse de cette machine") : part.localAddress;
    if (move && result.finalReceived && result.status == kMoveDestinationUnknown)
        lines.push_back("Le nœud ne connaît pas l'AE title " + part.moveDestination +
                        " : y déclarer l'AE title " + part.moveDestination + ", l'adresse " + here +
                        " (cette machine vue du nœud) et le port " +
                        std::to_string(part.storePort));
    // The node reported sub-operations, or went quiet past a response
    // timeout before its final status.
    const bool nodeTried =
        result.counts.Any() || result.noConnectionBack ||
        (!result.finalReceived && outcome.report.cancel == dicom::CancelReason::None);
    if (move && part.received.connections.empty() && outcome.report.accepted && nodeTried &&
        !(result.finalReceived && result.status == kMoveDestinationUnknown))
        lines.push_back("Personne ne s'est reconnecté au port " + std::to_string(part.storePort) +
                        " de la console : l'adresse ou le port déclarés pour " +
                        part.moveDestination + " sur le nœud ne sont pas " + here + ":" +
                        std::to_string(part.storePort) +
                        ", ou un pare-feu ou une traduction d'adresse (NAT) bloque la connexion "
                        "en retour");
    if (result.earlySuccess)
        lines.push_back(
            "Succès annoncé avant la dernière image : " + std::to_string(result.receivedAtFinal) +
            " reçues au statut final sur " + Count(result.counts.completed) + " terminées, " +
            std::to_string(part.received.received) + " après l'attente");
    for (const dicom::RefusedStorage& refused : result.refusedStorage)
        lines.push_back("C-GET : le nœud ne peut pas envoyer " + ServiceText(refused.sopClass) +
                        " (" + refused.sopClass + ") ici : " + refused.why);
    if (part.Shortfall() && !part.expected)
        lines.push_back("Il manque " + std::to_string(part.Wanted() - part.received.accepted) +
                        " images : le nœud en compte " + Count(result.counts.completed) +
                        " terminées");
    if (outcome.report.cancel == dicom::CancelReason::Stop)
        lines.push_back("Récupération annulée : " + std::to_string(part.received.received) +
                        " images reçues" +
                        (result.cutOff ? " (pas de statut final, association interrompue)" : ""));
}

}  // namespace

std::string RetrieveStatusText(std::uint16_t status) {
    const dicom::StatusMeaning meaning = dicom::RetrieveStatusMeaning(status);
    if (*meaning.name == '\0') return StatusText(status);
    char hex[8];
    std::snprintf(hex, sizeof hex, "%04X", static_cast<unsigned>(status));
    return std::string(hex) + " " + meaning.name;
}

std::string ProgressLine(const dicom::RetrieveProgress& progress) {
    return "Restant " + Count(progress.counts.remaining) + " · Terminées " +
           Count(progress.counts.completed) + " · Échecs " + Count(progress.counts.failed) +
           " · Avertissements " + Count(progress.counts.warning) + " · Reçues " +
           std::to_string(progress.received);
}

std::vector<std::string> RetrievalLines(const QueryOutcome& outcome) {
    std::vector<std::string> lines;
    if (!outcome.retrieval) return lines;
    const RetrievalOutcome& part = *outcome.retrieval;
    const dicom::RetrieveResult& result = part.result;
    const std::string head = Service(outcome) + (outcome.request.service == QueryService::Move
                                                     ? " vers " + part.moveDestination
                                                     : std::string());
    if (result.finalReceived)
        lines.push_back(head + " : " + RetrieveStatusText(result.status) + " — " +
                        Meaning(result.status, part.moveDestination));
    else
        lines.push_back(head + " : pas de statut final");
    std::string counts = "Terminées " + Count(result.counts.completed) + " · Échecs " +
                         Count(result.counts.failed) + " · Avertissements " +
                         Count(result.counts.warning) + " · Reçues " +
                         std::to_string(part.received.received);
    if (part.received.failureCount > 0)
        counts += " (dont " + std::to_string(part.received.failureCount) + " en échec)";
    lines.push_back(counts);
    if (outcome.request.retrieval.verify) AddCheckLine(part, lines);
    if (!part.received.sopClasses.empty())
        lines.push_back("Classes SOP reçues : " + Kinds(part.received.sopClasses, true));
    if (!part.received.transferSyntaxes.empty())
        lines.push_back("Syntaxes de transfert reçues : " +
                        Kinds(part.received.transferSyntaxes, false));
    AddTimes(part, lines);
    AddUidList(result.failedSopInstances, lines);
    AddFailures(part.received, lines);
    AddConnections(part, outcome.request.node.address, lines);
    AddExplanations(outcome, lines);
    return lines;
}

std::vector<dicom::AssociationReport> RetrievalReports(const QueryOutcome& outcome) {
    std::vector<dicom::AssociationReport> reports{outcome.report};
    if (outcome.retrieval)
        for (const dicom::AssociationReport& report : outcome.retrieval->received.storeReports)
            reports.push_back(report);
    return reports;
}

std::string MoreStoreReportsLine(const QueryOutcome& outcome) {
    if (!outcome.retrieval) return {};
    const dicom::ReceivedTally& tally = outcome.retrieval->received;
    if (tally.storeAssociations <= tally.storeReports.size()) return {};
    return "… et " + std::to_string(tally.storeAssociations - tally.storeReports.size()) +
           " autres associations de stockage, non détaillées";
}

}  // namespace lumo::app
