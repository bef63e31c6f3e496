#include "dicom/net/NodeChecks.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdict.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/dimse.h>

#include <algorithm>
#include <stop_token>
#include <string>
#include <utility>

#include "dicom/data/DicomAttributes.h"
#include "dicom/data/Variant.h"
#include "dicom/net/DicomQuery.h"
#include "dicom/net/DimseStatus.h"
#include "dicom/net/detail/Association.h"
#include "dicom/net/detail/ExchangeStop.h"
#include "dicom/net/detail/ResponseReceiver.h"

namespace lumo::dicom {

namespace {

constexpr ErrorClass kNetworkError = ErrorClass::EDicomNetworkError;
constexpr const char* kEcho = "C-ECHO";
// A C-ECHO-RSP is a command of some hundred bytes; a node sending more is
// not answering an echo.
constexpr std::size_t kMaxEchoResponseBytes = 64 * 1024;

// What every exchange checks before it connects; nullopt when it may go on.
std::optional<Exception> Unfit(const DicomPeer& peer) {
    if (!dcmDataDict.isDictionaryLoaded())
        return Exception(ErrorClass::EDicomError,
                         "No DICOM data dictionary loaded: check DCMDICTPATH");
    if (peer.port < 1 || peer.port > 65535)
        return Exception(kNetworkError,
                         "Cannot connect to " + peer.Text() + ": invalid port number");
    return std::nullopt;
}

// Sends a C-ECHO-RQ and reads its response, checked against the request.
detail::ResponseCommand ExchangeEcho(detail::Association& association,
                                     T_ASC_PresentationContextID presID) {
    T_DIMSE_Message message{};
    message.CommandField = DIMSE_C_ECHO_RQ;
    T_DIMSE_C_EchoRQ& request = message.msg.CEchoRQ;
    request.MessageID = association.NextMessageID();
    OFStandard::strlcpy(request.AffectedSOPClassUID, UID_VerificationSOPClass,
                        sizeof request.AffectedSOPClassUID);
    request.DataSetType = DIMSE_DATASET_NULL;
    OFCondition cond = DIMSE_sendMessageUsingMemoryData(association.Get(), presID, &message,
                                                        nullptr, nullptr, nullptr, nullptr);
    if (cond.bad()) association.Fail(cond, kEcho, "");
    association.StartResponse();
    std::string buffer;
    detail::ResponseCommand response;
    cond = detail::ReceiveCommand(association.Get(), kMaxEchoResponseBytes, buffer, response);
    if (cond.bad()) association.Fail(cond, kEcho, "");
    if (response.commandField != DIMSE_C_ECHO_RSP)
        association.FailProtocol(kEcho, "unexpected message from the node (command " +
                                            detail::StatusHex(response.commandField) + ")");
    if (response.messageIDBeingRespondedTo != request.MessageID)
        association.FailProtocol(kEcho, "protocol error: response to message ID " +
                                            std::to_string(response.messageIDBeingRespondedTo) +
                                            " while the request was message ID " +
                                            std::to_string(request.MessageID));
    if (response.announcesDataSet)
        association.FailProtocol(kEcho, "protocol error: a data set announced after the response");
    return response;
}

// Raises an exchange's stop: what a stop callback runs, on the thread that
// requests the stop.
struct RaiseStop {
    detail::ExchangeStop* stop;
    void operator()() const noexcept { stop->Raise(); }
};

// --- probe -----------------------------------------------------------------

// What a negotiation that proposed the service says of it.
void Learn(ProbedService& service, const DicomNegotiation& negotiation) {
    // A node that accepts the association but leaves a context out of its
    // answer has said all it will of that service: nothing.
    for (const ProposedContext& context : negotiation.report.contexts) {
        if (context.abstractSyntax == service.sopClass &&
            (context.result != ContextResult::NotAnswered || negotiation.report.accepted))
            service.context = context;
    }
    if (service.context) return;
    service.rejection = negotiation.report.rejection;
    if (!service.rejection) service.failure = negotiation.failure;
}

// The query root of a FIND service, or nullptr for another service.
const char* RootOf(const std::string& sopClass) {
    if (sopClass == UID_FINDModalityWorklistInformationModel) return "WORKLIST";
    if (sopClass == UID_FINDPatientRootQueryRetrieveInformationModel) return "PATIENT";
    if (sopClass == UID_FINDStudyRootQueryRetrieveInformationModel) return "STUDY";
    return nullptr;
}

// Keys no node can match: a Patient ID made of a fresh UID.
DicomDataSet MatchingNothing(const std::string& root) {
    char uid[65] = {};
    dcmGenerateUniqueIdentifier(uid, SITE_INSTANCE_UID_ROOT);
    DicomDataSet identifier;
    DicomAttributes keys = identifier.DataSetAttributes();
    keys.AttributesAdd(0x0010, 0x0020, Variant(std::string(uid)));
    if (root == "PATIENT") keys.AttributesAdd(0x0008, 0x0052, Variant("PATIENT"));
    if (root == "STUDY") {
        keys.AttributesAdd(0x0008, 0x0052, Variant("STUDY"));
        keys.AttributesAdd(0x0020, 0x000D, Variant(""));
    }
    return identifier;
}

// A C-FIND on the service that answers whether this calling AE title may
// query it.
ProbedService::FindCheck CheckFind(const DicomPeer& peer, const std::string& root,
                                   std::vector<AssociationReport>& reports,
                                   const std::stop_token& stop) {
    DicomQuery query;
    query.QuerySetCallingAETitle(peer.callingAETitle);
    query.QuerySetCalledAETitle(peer.calledAETitle);
    query.QuerySetNodeAddress(peer.address);
    query.QuerySetNodePort(peer.port);
    query.SetTimeouts(peer.timeouts);
    query.SetMaxPdu(peer.maxPdu);
    query.SetTls(peer.tls);
    query.QuerySetRoot(root);
    ProbedService::FindCheck check;
    try {
        const DicomFindResult found = query.QueryFind(MatchingNothing(root), nullptr, stop);
        check.status = found.status;
    } catch (const Exception& e) {
        check.failure = e.ClassName() + ": " + e.Message();
    }
    const AssociationReport& report = query.QueryLastReport();
    check.responses = report.responses;
    check.errorComment = report.errorComment;
    check.offendingElements = report.offendingElements;
    reports.push_back(report);
    return check;
}

// A node that turns down the association without a reason, or drops it,
// may do so for one service it will not have: each service is then asked
// alone. A rejection for the AE titles or the node's load, or a silence,
// would only come again.
bool AskEachAlone(const DicomNegotiation& together) {
    const AssociationReport& report = together.report;
    if (report.accepted) return false;
    if (report.rejection)
        return (report.rejection->source == 1 || report.rejection->source == 2) &&
               report.rejection->reason == 1;
    return report.abort || report.peerClosed;
}

}  // namespace

DicomNegotiation DicomNegotiate(const DicomPeer& peer, const std::vector<std::string>& services,
                                const std::vector<ExtendedNegotiation>& extended,
                                std::stop_token stop) {
    DicomNegotiation negotiation;
    negotiation.report.command = "A-ASSOCIATE";
    if (std::optional<Exception> unfit = Unfit(peer)) {
        negotiation.failureClass = unfit->Class();
        negotiation.failure = unfit->Message();
        return negotiation;
    }
    try {
        detail::Association association(peer, negotiation.report);
        const std::stop_callback<RaiseStop> onStop(stop, RaiseStop{&association.Stop()});
        for (const std::string& service : services) association.Propose(service);
        for (const ExtendedNegotiation& item : extended)
            association.ProposeExtended(item.sopClass, item.info);
        association.Open();
        association.Release();
    } catch (const Exception& e) {
        negotiation.failureClass = e.Class();
        negotiation.failure = e.Message();
    }
    return negotiation;
}

void DicomEcho(const DicomPeer& peer, AssociationReport& report, std::stop_token stop) {
    report = AssociationReport();
    report.command = kEcho;
    detail::Association association(peer, report);
    const std::stop_callback<RaiseStop> onStop(std::move(stop), RaiseStop{&association.Stop()});
    if (std::optional<Exception> unfit = Unfit(peer)) throw *unfit;
    detail::ResponseCommand response;
    try {
        // A stop asked before anything went out sends nothing.
        if (association.Stop().Raised()) throw Exception(kNetworkError, "");
        association.Propose(UID_VerificationSOPClass);
        association.Open();
        const T_ASC_PresentationContextID presID =
            association.Require(UID_VerificationSOPClass, "Verification");
        response = ExchangeEcho(association, presID);
    } catch (const Exception&) {
        // What a stop cut short is the stop's doing, not the node's.
        if (!association.Stop().Raised()) throw;
        association.Abort();
        report.cancel = CancelReason::Stop;
        throw Exception(kNetworkError, "C-ECHO to " + association.Peer() + " stopped");
    }
    association.Release();
    report.finalStatus = response.status;
    report.errorComment = detail::OneLine(response.errorComment);
    report.offendingElements = response.offendingElements;
    if (response.status == DimseStatus::Success) return;
    std::string message = "C-ECHO failed with status " + detail::StatusHex(response.status) +
                          " from " + association.Peer();
    if (!report.errorComment.empty()) message += ": " + report.errorComment;
    throw Exception(ErrorClass::EDicomStatusError, message);
}

std::vector<std::string> ProbedServices() {
    return {UID_VerificationSOPClass, UID_FINDModalityWorklistInformationModel,
            UID_FINDPatientRootQueryRetrieveInformationModel,
            UID_FINDStudyRootQueryRetrieveInformationModel};
}

bool DicomProbeResult::AnyAccepted() const {
    return std::any_of(services.begin(), services.end(),
                       [](const ProbedService& service) { return service.Accepted(); });
}

DicomProbeResult DicomProbe(const DicomPeer& peer, std::stop_token stop) {
    DicomProbeResult result;
    for (const std::string& sopClass : ProbedServices()) {
        ProbedService service;
        service.sopClass = sopClass;
        result.services.push_back(std::move(service));
    }
    if (std::optional<Exception> unfit = Unfit(peer)) {
        result.failureClass = unfit->Class();
        result.failure = unfit->Message();
        return result;
    }
    const auto stopped = [&] { return result.stopped = stop.stop_requested(); };
    if (stopped()) return result;
    const DicomNegotiation together = DicomNegotiate(peer, ProbedServices(), {}, stop);
    result.reports.push_back(together.report);
    if (stopped()) return result;
    if (!together.report.connected) {
        result.failureClass = together.failureClass.value_or(kNetworkError);
        result.failure = together.failure;
        return result;
    }
    const bool alone = AskEachAlone(together);
    for (ProbedService& service : result.services) {
        if (!alone) {
            Learn(service, together);
            continue;
        }
        const DicomNegotiation single = DicomNegotiate(peer, {service.sopClass}, {}, stop);
        result.reports.push_back(single.report);
        if (stopped()) return result;
        Learn(service, single);
    }
    for (ProbedService& service : result.services) {
        if (const char* root = RootOf(service.sopClass); root != nullptr && service.Accepted())
            service.find = CheckFind(peer, root, result.reports, stop);
        if (stopped()) return result;
    }
    return result;
}

}  // namespace lumo::dicom
