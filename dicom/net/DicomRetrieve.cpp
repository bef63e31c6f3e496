#include "dicom/net/DicomRetrieve.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcdict.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/dcmnet/dimse.h>

#include <algorithm>
#include <memory>
#include <string_view>
#include <utility>

#include "dicom/data/detail/DcmConvert.h"
#include "dicom/data/detail/ReceivedDataSetReader.h"
#include "dicom/net/DicomNames.h"
#include "dicom/net/detail/Association.h"
#include "dicom/net/detail/FindRequest.h"
#include "dicom/net/detail/InstanceIntake.h"
#include "dicom/net/detail/ResponseReceiver.h"
#include "support/Exception.h"

namespace lumo::dicom {

namespace {

using detail::OneLine;
using detail::StatusHex;
using std::chrono::steady_clock;

constexpr ErrorClass kNetworkError = ErrorClass::EDicomNetworkError;
constexpr ErrorClass kDicomError = ErrorClass::EDicomError;

// A command is small: one that passes this is not one.
constexpr std::size_t kMaxCommandBytes = std::size_t{1} << 20;

// The compressed transfer syntaxes an archive keeps instances in, proposed
// on a context of their own beside the plain ones when the SOP classes are
// known: a node then sends an instance as it holds it.
constexpr const char* kCompressed[] = {
    UID_JPEGProcess1TransferSyntax,
    UID_JPEGProcess2_4TransferSyntax,
    UID_JPEGProcess14SV1TransferSyntax,
    UID_JPEGLSLosslessTransferSyntax,
    UID_JPEGLSLossyTransferSyntax,
    UID_JPEG2000LosslessOnlyTransferSyntax,
    UID_JPEG2000TransferSyntax,
    UID_RLELosslessTransferSyntax,
    UID_DeflatedExplicitVRLittleEndianTransferSyntax,
};

// Before a census, the storage contexts of a C-GET are the broad list with
// the compressed context beside the plain one for the image classes most
// often kept compressed; the room for them is made by leaving out what no
// modality has made for decades (hardcopy, stored print, standalone curves,
// overlays and LUTs). A census that names only classes proposed so lets the
// C-GET go on the same association.
constexpr const char* kOftenCompressed[] = {
    UID_CTImageStorage,
    UID_MRImageStorage,
    UID_ComputedRadiographyImageStorage,
    UID_DigitalXRayImageStorageForPresentation,
    UID_DigitalMammographyXRayImageStorageForPresentation,
    UID_UltrasoundImageStorage,
    UID_UltrasoundMultiframeImageStorage,
    UID_XRayAngiographicImageStorage,
    UID_XRayRadiofluoroscopicImageStorage,
    UID_SecondaryCaptureImageStorage,
    UID_NuclearMedicineImageStorage,
    UID_PositronEmissionTomographyImageStorage,
    UID_BreastTomosynthesisImageStorage,
    UID_VLPhotographicImageStorage,
};
constexpr const char* kExtinct[] = {
    UID_RETIRED_HardcopyColorImageStorage,    UID_RETIRED_HardcopyGrayscaleImageStorage,
    UID_RETIRED_StoredPrintStorage,           UID_RETIRED_StandaloneCurveStorage,
    UID_RETIRED_StandaloneModalityLUTStorage, UID_RETIRED_StandaloneOverlayStorage,
    UID_RETIRED_StandalonePETCurveStorage,    UID_RETIRED_StandaloneVOILUTStorage,
};

bool Among(std::string_view uid, const auto& list) {
    return std::find_if(std::begin(list), std::end(list),
                        [&](const auto& entry) { return uid == entry; }) != std::end(list);
}

// The retrieval's SOP class and its name in messages.
struct Model {
    const char* sopClass;
    const char* name;
    const char* command;
    std::uint16_t responseField;
};

Model ModelOf(const RetrieveRequest& request) {
    const bool patient = request.root == "PATIENT";
    if (request.root != "PATIENT" && request.root != "STUDY")
        throw Exception(kDicomError, "Unknown retrieval root \"" + request.root +
                                         "\": expected PATIENT or STUDY");
    if (request.service == RetrieveService::Move)
        return patient ? Model{UID_MOVEPatientRootQueryRetrieveInformationModel,
                               "Patient Root MOVE", "C-MOVE", DIMSE_C_MOVE_RSP}
                       : Model{UID_MOVEStudyRootQueryRetrieveInformationModel, "Study Root MOVE",
                               "C-MOVE", DIMSE_C_MOVE_RSP};
    return patient ? Model{UID_GETPatientRootQueryRetrieveInformationModel, "Patient Root GET",
                           "C-GET", DIMSE_C_GET_RSP}
                   : Model{UID_GETStudyRootQueryRetrieveInformationModel, "Study Root GET", "C-GET",
                           DIMSE_C_GET_RSP};
}

std::string After(int received) { return detail::AfterResponses(received); }

// The counts of a response over those of the one before: a node may leave
// out what did not change (a final response without Remaining).
void Merge(SubOperations& counts, const detail::ResponseCommand& command) {
    const auto take = [](std::optional<std::uint32_t>& into, std::optional<std::uint16_t> from) {
        if (from) into = *from;
    };
    take(counts.remaining, command.remaining);
    take(counts.completed, command.completed);
    take(counts.failed, command.failed);
    take(counts.warning, command.warning);
}

std::vector<std::string> SplitUids(const std::string& list) {
    std::vector<std::string> uids;
    std::size_t at = 0;
    while (at <= list.size()) {
        const std::size_t end = std::min(list.find('\\', at), list.size());
        std::string uid = list.substr(at, end - at);
        while (!uid.empty() && (uid.back() == ' ' || uid.back() == '\0')) uid.pop_back();
        if (!uid.empty()) uids.push_back(std::move(uid));
        at = end + 1;
    }
    return uids;
}

struct RaiseStop {
    detail::ExchangeStop* stop;
    void operator()() const noexcept { stop->Raise(); }
};

// One C-MOVE or C-GET on an association of its own, as FindExchange is one
// C-FIND: open it (for a C-GET with the storage contexts too, and the
// census's C-FINDs before the request), send the request, follow the
// responses (and a C-GET's C-STORE requests) to the final one, release it,
// and for a C-MOVE wait for instances a final status came before. Owns the
// association and the callback that raises its stop; writes the caller's
// result and report. Used on the calling thread; only the stop may be
// requested from another.
class RetrieveExchange {
  public:
    RetrieveExchange(const DicomPeer& peer, const RetrieveRequest& request,
                     ReceivedInstances& received, RetrieveResult& result, AssociationReport& report,
                     std::stop_token stop)
        : request_(request),
          model_(ModelOf(request)),
          received_(received),
          result_(result),
          report_(report),
          responseBound_(std::chrono::seconds(detail::WholeSeconds(peer.timeouts.response))),
          stopToken_(stop),
          association_(peer, report),
          onStop_(std::move(stop), RaiseStop{&association_.Stop()}) {
        report_.command = model_.command;
        result_.peer = association_.Peer();
    }

    bool StoppedBeforeRequest() const { return association_.Stop().Raised() && !requestOut_; }
    void Open();
    // The census on this association (a C-GET's). Nothing when the C-GET
    // goes on here; else the classes a second association is to propose.
    std::optional<std::vector<std::string>> TakeCensus();
    void Release() { association_.Release(); }
    void Send(DcmDataset& identifier);
    void Receive(const std::function<void(const RetrieveProgress&)>& onProgress);
    void CutOff();
    void NoteCancel() {
        if (association_.Stop().Raised()) result_.cancel = report_.cancel = CancelReason::Stop;
    }
    void NoteDuration() {
        if (sent_ != steady_clock::time_point())
            result_.duration =
                std::chrono::duration_cast<std::chrono::milliseconds>(steady_clock::now() - sent_);
    }

  private:
    void ProposeStorage();
    DicomFindResult CensusFind(T_ASC_PresentationContextID findID, const std::string& refused,
                               const DicomDataSet& identifier,
                               const std::function<void(const DicomDataSet&)>& onResponse);
    // Of the storage classes proposed (or of `only`, when it names some).
    void NoteRefusedStorage(const std::vector<std::string>& only = {});
    bool ReceiveOrCutOff(detail::ResponseCommand& command, T_ASC_PresentationContextID& presID);
    void ReceiveCommand(detail::ResponseCommand& command, T_ASC_PresentationContextID& presID);
    void TakeStore(const detail::ResponseCommand& command, T_ASC_PresentationContextID presID);
    void ReadResponseData(const detail::ResponseCommand& command, bool final);
    void Progress(const std::function<void(const RetrieveProgress&)>& onProgress);
    void Finish(const detail::ResponseCommand& final);
    void WaitForLateInstances();

    const RetrieveRequest& request_;
    const Model model_;
    ReceivedInstances& received_;
    RetrieveResult& result_;
    AssociationReport& report_;
    const std::chrono::milliseconds responseBound_;
    const std::stop_token stopToken_;
    detail::Association association_;
    const std::stop_callback<RaiseStop> onStop_;  // goes before the association it raises
    T_ASC_PresentationContextID presID_ = 0;
    DIC_US messageID_ = 0;
    bool requestOut_ = false;           // the C-MOVE or C-GET request, not a census C-FIND
    std::vector<std::string> doubled_;  // storage classes proposed plain and compressed
    steady_clock::time_point sent_{};
    std::string commandBuffer_;
    std::string dataBuffer_;
};

constexpr const char* kCensusModel = UID_FINDStudyRootQueryRetrieveInformationModel;

void RetrieveExchange::Open() {
    association_.Propose(model_.sopClass);
    const bool get = request_.service == RetrieveService::Get;
    if (get && request_.census) association_.Propose(kCensusModel);
    if (get) {
        ProposeStorage();
        association_.AckAtOnce();
    }
    association_.Open();
    presID_ = association_.Require(model_.sopClass, model_.name);
    if (get && !request_.census) NoteRefusedStorage();
}

std::optional<std::vector<std::string>> RetrieveExchange::TakeCensus() {
    std::string refused;
    const T_ASC_PresentationContextID findID =
        association_.Accepted(kCensusModel, "Study Root FIND", refused);
    const std::vector<std::string> classes =
        request_.census([&](const DicomDataSet& identifier,
                            const std::function<void(const DicomDataSet&)>& onResponse) {
            return CensusFind(findID, refused, identifier, onResponse);
        });
    if (!association_.IsOpen()) return classes;
    if (association_.Stop().Raised()) return std::nullopt;  // no C-GET goes out
    for (const std::string& sopClass : classes)
        if (!Among(sopClass, doubled_)) return classes;
    NoteRefusedStorage(classes);
    return std::nullopt;
}

DicomFindResult RetrieveExchange::CensusFind(
    T_ASC_PresentationContextID findID, const std::string& refused, const DicomDataSet& identifier,
    const std::function<void(const DicomDataSet&)>& onResponse) {
    if (findID == 0) throw Exception(kDicomError, refused);
    if (!association_.IsOpen())
        throw Exception(kNetworkError, "No association with " + association_.Peer() + " any more");
    DicomFindResult found;
    found.peer = association_.Peer();
    found.cutOff = association_.Stop().Raised();
    if (!found.cutOff) {
        const std::unique_ptr<DcmDataset> set = detail::ToDcmDataset(identifier);
        const std::optional<detail::ResponseCommand> final = detail::RunFindRequest(
            association_, findID, kCensusModel, *set, request_.maxResponseBytes, onResponse, false);
        if (final) {
            found.status = final->status;
            found.errorComment = OneLine(final->errorComment);
        } else {
            association_.Abort();
            found.cutOff = true;
        }
    }
    if (association_.Stop().Raised()) found.cancel = CancelReason::Stop;
    return found;
}

// This side as the SCP of each storage SOP class, with the plain transfer
// syntaxes, and for known classes a second context with the compressed
// ones; without known classes, DCMTK's long list of the common ones, as
// its getscu proposes them (before a census, as kOftenCompressed says).
void RetrieveExchange::ProposeStorage() {
    const std::vector<std::string> plain = detail::Association::PlainTransferSyntaxes();
    const std::vector<std::string> compressed(std::begin(kCompressed), std::end(kCompressed));
    const auto propose = [&](const std::string& sopClass, bool twice) {
        association_.Propose(sopClass, plain, ContextRole::Scp);
        if (!twice) return;
        association_.Propose(sopClass, compressed, ContextRole::Scp);
        doubled_.push_back(sopClass);
    };
    if (request_.census) {
        for (int i = 0; i < numberOfDcmLongSCUStorageSOPClassUIDs; ++i) {
            const char* sopClass = dcmLongSCUStorageSOPClassUIDs[i];
            if (!Among(sopClass, kExtinct)) propose(sopClass, Among(sopClass, kOftenCompressed));
        }
        return;
    }
    std::vector<std::string> classes = request_.storageSopClasses;
    const bool known = !classes.empty();
    if (!known)
        classes.assign(dcmLongSCUStorageSOPClassUIDs,
                       dcmLongSCUStorageSOPClassUIDs + numberOfDcmLongSCUStorageSOPClassUIDs);
    // 128 contexts at most, the retrieval's own among them.
    const bool twice = known && 2 * classes.size() < 128;
    if (classes.size() > 127) classes.resize(127);
    for (const std::string& sopClass : classes) propose(sopClass, twice);
}

// A storage class none of whose contexts the node accepted with this side as
// SCP: the node cannot send its instances here.
void RetrieveExchange::NoteRefusedStorage(const std::vector<std::string>& only) {
    std::vector<std::string> classes = only;
    if (classes.empty())
        for (const ProposedContext& context : report_.contexts)
            if (context.abstractSyntax != model_.sopClass &&
                context.abstractSyntax != kCensusModel && !Among(context.abstractSyntax, classes))
                classes.push_back(context.abstractSyntax);
    for (const std::string& sopClass : classes) {
        std::string why;
        bool usable = false;
        for (const ProposedContext& context : report_.contexts) {
            if (context.abstractSyntax != sopClass) continue;
            if (!context.Accepted()) {
                if (why.empty())
                    why =
                        "contexte refusé (" + std::string(ContextResultName(context.result)) + ")";
                continue;
            }
            if (context.acceptedRole == ContextRole::Scp ||
                context.acceptedRole == ContextRole::Both) {
                usable = true;
            } else {
                why = "rôle SCP de la console non accordé";
            }
        }
        if (!usable) result_.refusedStorage.push_back({sopClass, why});
    }
}

void RetrieveExchange::Send(DcmDataset& identifier) {
    T_DIMSE_Message message{};
    messageID_ = association_.NextMessageID();
    if (request_.service == RetrieveService::Move) {
        message.CommandField = DIMSE_C_MOVE_RQ;
        T_DIMSE_C_MoveRQ& move = message.msg.CMoveRQ;
        move.MessageID = messageID_;
        OFStandard::strlcpy(move.AffectedSOPClassUID, model_.sopClass,
                            sizeof move.AffectedSOPClassUID);
        move.Priority = DIMSE_PRIORITY_MEDIUM;
        move.DataSetType = DIMSE_DATASET_PRESENT;
        OFStandard::strlcpy(move.MoveDestination, request_.moveDestination.c_str(),
                            sizeof move.MoveDestination);
    } else {
        message.CommandField = DIMSE_C_GET_RQ;
        T_DIMSE_C_GetRQ& get = message.msg.CGetRQ;
        get.MessageID = messageID_;
        OFStandard::strlcpy(get.AffectedSOPClassUID, model_.sopClass,
                            sizeof get.AffectedSOPClassUID);
        get.Priority = DIMSE_PRIORITY_MEDIUM;
        get.DataSetType = DIMSE_DATASET_PRESENT;
    }
    sent_ = steady_clock::now();
    const OFCondition cond = DIMSE_sendMessageUsingMemoryData(
        association_.Get(), presID_, &message, nullptr, &identifier, nullptr, nullptr);
    if (cond.bad()) association_.Fail(cond, model_.command, After(0));
    association_.Stop().Arm(presID_, messageID_, association_.ResponseBound());
    requestOut_ = true;
}

void RetrieveExchange::Receive(const std::function<void(const RetrieveProgress&)>& onProgress) {
    const detail::ExchangeStop& stop = association_.Stop();
    while (true) {
        association_.HandleStop();
        if (!stop.CancelSent()) association_.StartResponse();
        detail::ResponseCommand command;
        T_ASC_PresentationContextID presID = 0;
        if (!ReceiveOrCutOff(command, presID)) return CutOff();
        if (command.commandField == DIMSE_C_STORE_RQ) {
            TakeStore(command, presID);
            continue;
        }
        const bool final = !DimseStatus::IsPending(command.status);
        ReadResponseData(command, final);
        Merge(result_.counts, command);
        if (final) return Finish(command);
        ++result_.responses;
        ++report_.responses;
        Progress(onProgress);
    }
}

bool RetrieveExchange::ReceiveOrCutOff(detail::ResponseCommand& command,
                                       T_ASC_PresentationContextID& presID) {
    try {
        ReceiveCommand(command, presID);
        return true;
    } catch (const Exception&) {
        if (association_.Stop().CancelSent() && association_.Expired()) return false;
        throw;
    }
}

// The next message: a response to the request, or (C-GET) a C-STORE-RQ.
void RetrieveExchange::ReceiveCommand(detail::ResponseCommand& command,
                                      T_ASC_PresentationContextID& presID) {
    const OFCondition cond = detail::ReceiveCommand(association_.Get(), kMaxCommandBytes,
                                                    commandBuffer_, command, &presID);
    if (cond.bad()) association_.Fail(cond, model_.command, After(result_.responses));
    const bool store =
        command.commandField == DIMSE_C_STORE_RQ && request_.service == RetrieveService::Get;
    if (command.commandField != model_.responseField && !store)
        association_.FailProtocol(model_.command, "unexpected message from the node (command " +
                                                      StatusHex(command.commandField) + ")");
    if (!command.complete)
        association_.FailProtocol(model_.command, "a message from the node lacks a required field");
    if (!store && command.messageIDBeingRespondedTo != messageID_)
        association_.FailProtocol(
            model_.command, "protocol error: response to message ID " +
                                std::to_string(command.messageIDBeingRespondedTo) +
                                " while the request was message ID " + std::to_string(messageID_));
}

// One instance of a C-GET: its bytes (bounded as the tally says), taken by
// the tally, answered. An instance on a context that is not its SOP class's
// is refused, and named.
void RetrieveExchange::TakeStore(const detail::ResponseCommand& command,
                                 T_ASC_PresentationContextID presID) {
    T_ASC_Association* assoc = association_.Get();
    std::string_view bytes;
    E_TransferSyntax xfer = EXS_Unknown;
    ReceivedInstances::Impl& intake = received_.Internals();
    if (command.announcesDataSet) {
        const OFCondition cond = detail::ReceiveDataSetBytes(
            assoc, intake.settings.maxInstanceBytes, dataBuffer_, bytes, xfer);
        if (cond.bad()) association_.Fail(cond, model_.command, After(result_.responses));
    }
    T_ASC_PresentationContext context{};
    const bool onItsContext =
        ASC_findAcceptedPresentationContext(assoc->params, presID, &context).good() &&
        command.affectedSopClassUID == context.abstractSyntax && presID != presID_;
    detail::StoreAnswer answer;
    if (!command.announcesDataSet) {
        answer = {detail::kStoreCannotUnderstand, "No data set", "C-STORE sans données"};
        detail::RefuseInstance(intake, command.affectedSopInstanceUID, answer.why);
    } else if (!onItsContext) {
        answer = {detail::kStoreSopClassNotSupported, "SOP Class not negotiated",
                  "classe SOP " + command.affectedSopClassUID +
                      " envoyée sur un contexte qui n'est pas le sien"};
        detail::RefuseInstance(intake, command.affectedSopInstanceUID, answer.why);
    } else {
        answer = detail::TakeInstance(intake, command, bytes, xfer,
                                      OneLine(context.acceptedTransferSyntax), SIZE_MAX);
    }
    const OFCondition cond = detail::SendStoreResponse(assoc, presID, command, answer);
    if (cond.bad()) association_.Fail(cond, model_.command, After(result_.responses));
}

// The data set a response announces: read to keep the association in step;
// a final one's Failed SOP Instance UID List kept.
void RetrieveExchange::ReadResponseData(const detail::ResponseCommand& command, bool final) {
    if (!command.announcesDataSet) return;
    std::string_view bytes;
    E_TransferSyntax xfer = EXS_Unknown;
    const OFCondition cond = detail::ReceiveDataSetBytes(
        association_.Get(), request_.maxResponseBytes, dataBuffer_, bytes, xfer);
    if (cond.bad()) association_.Fail(cond, model_.command, After(result_.responses));
    if (!final) return;
    DcmDataset set;
    OFString list;
    if (detail::ReadIntoDcmtk(bytes, xfer, set).good() &&
        set.findAndGetOFStringArray(DCM_FailedSOPInstanceUIDList, list).good())
        result_.failedSopInstances = SplitUids(list.c_str());
}

void RetrieveExchange::Progress(const std::function<void(const RetrieveProgress&)>& onProgress) {
    const bool late = steady_clock::now() - sent_ >= responseBound_;
    if (request_.service == RetrieveService::Move && !result_.noConnectionBack && late &&
        result_.counts.Any() && received_.Connections() == 0)
        result_.noConnectionBack = true;
    if (!onProgress) return;
    RetrieveProgress progress;
    progress.counts = result_.counts;
    progress.received = received_.Received();
    progress.responses = result_.responses;
    progress.noConnectionBack = result_.noConnectionBack;
    onProgress(progress);
}

void RetrieveExchange::Finish(const detail::ResponseCommand& final) {
    // What had come when the node said it was done, before the release
    // (which such a node may confirm only once it has sent the rest).
    result_.receivedAtFinal = received_.Received();
    association_.Stop().Disarm();
    association_.Release();
    NoteCancel();
    result_.finalReceived = true;
    result_.status = report_.finalStatus.emplace(final.status);
    result_.errorComment = report_.errorComment = OneLine(final.errorComment);
    result_.offendingElements = report_.offendingElements = final.offendingElements;
    NoteDuration();
    if (request_.service == RetrieveService::Move) WaitForLateInstances();
}

// A node that said it was done before its instances were all in: they are
// awaited a little, each one restarting the wait, never past one response
// timeout in all.
void RetrieveExchange::WaitForLateInstances() {
    const std::uint64_t completed = result_.counts.completed.value_or(0);
    if (result_.receivedAtFinal >= completed || association_.Stop().Raised()) return;
    result_.earlySuccess = true;
    const steady_clock::time_point last = steady_clock::now() + responseBound_;
    std::uint64_t have = result_.receivedAtFinal;
    while (have < completed) {
        const steady_clock::time_point until = std::min(steady_clock::now() + request_.grace, last);
        if (!received_.WaitBeyond(have, until, stopToken_)) break;
        have = received_.Received();
        NoteDuration();
    }
}

void RetrieveExchange::CutOff() {
    association_.Stop().Disarm();
    association_.Abort();
    NoteCancel();
    NoteDuration();
    result_.cutOff = true;
}

}  // namespace

bool SubOperations::Any() const {
    return remaining.value_or(0) + completed.value_or(0) + failed.value_or(0) +
               warning.value_or(0) >
           0;
}

std::string RetrieveFailureText(RetrieveService service, const std::string& status,
                                const std::string& peer, const std::string& errorComment) {
    std::string message = std::string(service == RetrieveService::Move ? "C-MOVE" : "C-GET") +
                          " failed with status " + status + " from " + peer;
    if (!errorComment.empty()) message += ": " + errorComment;
    return message;
}

void Retrieve(const DicomPeer& peer, const RetrieveRequest& request, const DicomDataSet& identifier,
              ReceivedInstances& received, RetrieveResult& result, AssociationReport& report,
              const std::function<void(const RetrieveProgress&)>& onProgress,
              std::stop_token stop) {
    result = RetrieveResult();
    report = AssociationReport();
    std::optional<std::vector<std::string>> elsewhere;  // the census's classes
    {
        RetrieveExchange exchange(peer, request, received, result, report, stop);
        if (!dcmDataDict.isDictionaryLoaded())
            throw Exception(kDicomError, "No DICOM data dictionary loaded: check DCMDICTPATH");
        if (peer.port < 1 || peer.port > 65535)
            throw Exception(kNetworkError,
                            "Cannot connect to " + result.peer + ": invalid port number");
        std::unique_ptr<DcmDataset> set = detail::ToDcmDataset(identifier);
        if (exchange.StoppedBeforeRequest()) return exchange.CutOff();
        try {
            exchange.Open();
            if (request.service == RetrieveService::Get && request.census)
                elsewhere = exchange.TakeCensus();
            if (exchange.StoppedBeforeRequest()) return exchange.CutOff();
            if (!elsewhere) {
                exchange.Send(*set);
                exchange.Receive(onProgress);
                return;
            }
            exchange.Release();
        } catch (const Exception&) {
            if (exchange.StoppedBeforeRequest()) return exchange.CutOff();
            exchange.NoteCancel();
            exchange.NoteDuration();
            throw;
        }
    }
    // The classes named are not all proposed here as a known list would
    // propose them, or the census ended the association.
    RetrieveRequest again = request;
    again.census = nullptr;
    again.storageSopClasses = std::move(*elsewhere);
    Retrieve(peer, again, identifier, received, result, report, onProgress, std::move(stop));
}

}  // namespace lumo::dicom
