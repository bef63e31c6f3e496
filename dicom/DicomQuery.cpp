#include "dicom/DicomQuery.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcdict.h>
#include <dcmtk/dcmdata/dcelem.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/dcmnet/cond.h>
#include <dcmtk/dcmnet/dcmtrans.h>
#include <dcmtk/dcmnet/dimse.h>
#include <dcmtk/dcmnet/dul.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>

#include "dicom/DcmConvert.h"
#include "dicom/DcmtkCheck.h"
#include "dicom/ReadDeadline.h"
#include "dicom/ResponseReceiver.h"
#include "dicom/WireDataSet.h"
#include "support/Exception.h"

namespace lumo::dicom {

struct DicomQuery::Impl {
    std::string callingAETitle;
    std::string calledAETitle;
    std::string address;
    std::int32_t port = 104;
    std::string root;
    std::string level;
    DicomTimeouts timeouts;
    DicomLimits limits;
};

// The names the rest of the program uses for the statuses are DCMTK's.
static_assert(DimseStatus::Success == STATUS_Success);
static_assert(DimseStatus::Pending == STATUS_Pending);
static_assert(DimseStatus::Cancel == STATUS_FIND_Cancel_MatchingTerminatedDueToCancelRequest);
static_assert(DimseStatus::UnableToProcess == STATUS_FIND_Failed_UnableToProcess);
static_assert(DimseStatus::IsPending(0xFF01) && DimseStatus::IsWarning(0xB000));

namespace {

constexpr ErrorClass kNetworkError = ErrorClass::EDicomNetworkError;
constexpr ErrorClass kRejected = ErrorClass::EDicomAssociationRejected;
constexpr ErrorClass kDicomError = ErrorClass::EDicomError;
constexpr ErrorClass kStatusError = ErrorClass::EDicomStatusError;

// The query root's information model: its SOP class and the name the
// operator reads in messages.
struct Model {
    const char* sopClass;
    const char* name;
};

Model ModelForRoot(const std::string& root) {
    std::string upper = root;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (upper == "WORKLIST")
        return {UID_FINDModalityWorklistInformationModel, "Modality Worklist FIND"};
    if (upper == "PATIENT")
        return {UID_FINDPatientRootQueryRetrieveInformationModel, "Patient Root FIND"};
    if (upper == "STUDY")
        return {UID_FINDStudyRootQueryRetrieveInformationModel, "Study Root FIND"};
    throw Exception(kDicomError,
                    "Unknown query root \"" + root + "\": expected WORKLIST, PATIENT or STUDY");
}

// DCMTK waits in whole seconds; a configured part of a second still waits.
int WholeSeconds(std::chrono::milliseconds timeout) {
    const auto ms = std::max<std::chrono::milliseconds::rep>(timeout.count(), 1);
    return static_cast<int>(std::min<std::chrono::milliseconds::rep>((ms + 999) / 1000, 24 * 3600));
}

std::string OneLine(std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return text;
}

// The same condition with the text the operator should read, so the one
// checkpoint reports what happened rather than the toolkit's wording.
OFCondition Explained(const OFCondition& cond, const std::string& text) {
    return OFCondition(cond.module(), cond.code(), cond.status(), OneLine(text).c_str());
}

bool Contains(const char* text, const char* part) {
    return std::string(text).find(part) != std::string::npos;
}

std::string RejectReasonText(const T_ASC_RejectParameters& rej) {
    switch (rej.reason) {
        case ASC_REASON_SU_NOREASON:
        case ASC_REASON_SP_ACSE_NOREASON:
            return "no reason given";
        case ASC_REASON_SU_APPCONTEXTNAMENOTSUPPORTED:
            return "application context name not supported";
        case ASC_REASON_SU_CALLINGAETITLENOTRECOGNIZED:
            return "calling AE title not recognized";
        case ASC_REASON_SU_CALLEDAETITLENOTRECOGNIZED:
            return "called AE title not recognized";
        case ASC_REASON_SP_ACSE_PROTOCOLVERSIONNOTSUPPORTED:
            return "protocol version not supported";
        case ASC_REASON_SP_PRES_TEMPORARYCONGESTION:
            return "temporary congestion";
        case ASC_REASON_SP_PRES_LOCALLIMITEXCEEDED:
            return "local limit exceeded";
    }
    return "reason " + std::to_string(static_cast<int>(rej.reason));
}

std::string StatusHex(Uint16 status) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(status));
    return text;
}

// The transfer syntaxes a query proposes: the only ones a node may accept.
constexpr const char* kTransferSyntaxes[] = {UID_LittleEndianExplicitTransferSyntax,
                                             UID_BigEndianExplicitTransferSyntax,
                                             UID_LittleEndianImplicitTransferSyntax};

bool IsProposed(const char* transferSyntax) {
    return std::any_of(std::begin(kTransferSyntaxes), std::end(kTransferSyntaxes),
                       [&](const char* uid) { return std::string_view(uid) == transferSyntax; });
}

// Options on the association's socket, which DCMTK keeps to itself (a
// protected member), hence this accessor.
struct SocketOptions : DcmTransportConnection {
    static int SocketOf(T_ASC_Association* assoc) {
        DcmTransportConnection* connection = DUL_getTransportConnection(assoc->DULassociation);
        if (!connection) return -1;
        return (connection->*(&SocketOptions::getSocket))();
    }

    // A DIMSE message goes out as two writes, command then data set; with
    // Nagle's algorithm the second waits for the node's delayed
    // acknowledgement, some 40 ms on every query.
    static void SendAtOnce(T_ASC_Association* assoc) {
        const int socket = SocketOf(assoc);
        const int on = 1;
        // Only a matter of speed: a failure changes nothing else.
        if (socket >= 0) (void)::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
};

struct NetworkDeleter {
    void operator()(T_ASC_Network* net) const { ASC_dropNetwork(&net); }
};

// One association with the node. Releases nothing by itself: the
// destructor aborts an association still open (a failed query), never throws,
// and frees the parameters in every case.
class Association {
  public:
    explicit Association(T_ASC_Parameters* params) : params_(params) {}
    ~Association() {
        if (assoc_) {
            if (open_) ASC_abortAssociation(assoc_);
            ASC_dropAssociation(assoc_);
            ASC_destroyAssociation(&assoc_);  // frees the parameters too
        } else if (params_) {
            ASC_destroyAssociationParameters(&params_);
        }
    }
    Association(const Association&) = delete;
    Association& operator=(const Association&) = delete;

    OFCondition Request(T_ASC_Network* net, int timeoutSeconds) {
        OFCondition cond = ASC_requestAssociation(net, params_, &assoc_, nullptr, nullptr,
                                                  DUL_NOBLOCK, timeoutSeconds);
        open_ = cond.good();
        return cond;
    }
    // Ends a completed exchange politely; a node that does not answer the
    // release costs nothing more than an abort.
    void Release() {
        if (!open_) return;
        open_ = false;
        if (ASC_releaseAssociation(assoc_).bad()) ASC_abortAssociation(assoc_);
    }
    void Abort() {
        if (!open_) return;
        open_ = false;
        ASC_abortAssociation(assoc_);
    }

    T_ASC_Association* Get() const { return assoc_; }
    T_ASC_Parameters* Params() const { return params_; }

  private:
    T_ASC_Parameters* params_;
    T_ASC_Association* assoc_ = nullptr;
    bool open_ = false;
};

// The failure of a query, told the operator's way. `received` is how many
// pending responses had arrived.
[[noreturn]] void FailDuringQuery(Association& association, const OFCondition& cond,
                                  const std::string& peer, int responseSeconds, int received) {
    association.Abort();
    const std::string what = "C-FIND to " + peer + " failed";
    const std::string after =
        " after " + std::to_string(received) + " response" + (received == 1 ? "" : "s");
    if (cond == DIMSE_NODATAAVAILABLE || cond == DUL_READTIMEOUT)
        detail::CheckCondition(
            Explained(cond, "response timeout after " + std::to_string(responseSeconds) + " s"),
            kNetworkError, what);
    if (cond == DUL_PEERABORTEDASSOCIATION)
        detail::CheckCondition(Explained(cond, "association aborted by the node" + after),
                               kNetworkError, what);
    if (cond == DUL_NETWORKCLOSED)
        detail::CheckCondition(Explained(cond, "connection closed by the node" + after),
                               kNetworkError, what);
    detail::CheckCondition(Explained(cond, cond.text()), kNetworkError, what);
    throw Exception(kNetworkError, what);  // a bad condition always raised above
}

[[noreturn]] void FailToAssociate(Association& association, const OFCondition& cond,
                                  const std::string& peer, const DicomTimeouts& timeouts) {
    if (cond == DUL_ASSOCIATIONREJECTED) {
        T_ASC_RejectParameters rej{};
        ASC_getRejectParameters(association.Params(), &rej);
        detail::CheckCondition(Explained(cond, RejectReasonText(rej)), kRejected,
                               "Association rejected by " + peer);
    }
    const std::string connect = "Cannot connect to " + peer;
    if (cond.module() == OFM_dcmnet && cond.code() == DULC_TCPINITERROR) {
        const char* text = cond.text();
        if (Contains(text, "(Timeout)"))
            detail::CheckCondition(
                Explained(cond, "connection timeout after " +
                                    std::to_string(WholeSeconds(timeouts.connect)) + " s"),
                kNetworkError, connect);
        if (Contains(text, "refused"))
            detail::CheckCondition(Explained(cond, "connection refused"), kNetworkError, connect);
        if (Contains(text, "No route") || Contains(text, "Host is unreachable"))
            detail::CheckCondition(Explained(cond, "host unreachable"), kNetworkError, connect);
        if (Contains(text, "Network is unreachable"))
            detail::CheckCondition(Explained(cond, "network unreachable"), kNetworkError, connect);
        detail::CheckCondition(cond, kNetworkError, connect);
    }
    if (cond.module() == OFM_dcmnet && cond.code() == DULC_UNKNOWNHOST)
        detail::CheckCondition(Explained(cond, "unknown host"), kNetworkError, connect);
    const std::string associate = "No association with " + peer;
    if (cond == DUL_READTIMEOUT || cond == DIMSE_NODATAAVAILABLE)
        detail::CheckCondition(
            Explained(cond, "association timeout after " +
                                std::to_string(WholeSeconds(timeouts.association)) + " s"),
            kNetworkError, associate);
    if (cond == DUL_PEERABORTEDASSOCIATION)
        detail::CheckCondition(Explained(cond, "association aborted by the node"), kNetworkError,
                               associate);
    detail::CheckCondition(Explained(cond, cond.text()), kNetworkError, associate);
    throw Exception(kNetworkError, associate);  // a bad condition always raised above
}

std::string PresentationResultText(T_ASC_P_ResultReason reason) {
    switch (reason) {
        case ASC_P_USERREJECTION:
            return "rejected by the node";
        case ASC_P_NOREASON:
            return "refused, no reason given";
        case ASC_P_ABSTRACTSYNTAXNOTSUPPORTED:
            return "abstract syntax not supported";
        case ASC_P_TRANSFERSYNTAXESNOTSUPPORTED:
            return "transfer syntaxes not supported";
        default:
            return "not accepted";
    }
}

// Command-group elements (0000,xxxx) belong to the DIMSE command, never to an
// identifier; a caller may have put some in, so they are taken out here.
void StripCommandGroup(DcmDataset& dataSet) {
    for (unsigned long i = dataSet.card(); i > 0; --i) {
        DcmElement* element = dataSet.getElement(i - 1);
        if (element->getGTag() == 0x0000) {
            std::unique_ptr<DcmElement> removed(dataSet.remove(element));
        }
    }
}

// One C-FIND exchange on an association of its own: open it, send the
// request, read every response, release it. Owns the network, the
// association, and the deadline every read of the association is held to
// (the whole negotiation, then each response, has its timeout); an
// association still open when it goes (a failed exchange) is aborted. Used
// on the calling thread only.
class FindExchange {
  public:
    FindExchange(const DicomQuery::Impl& query, const Model& model)
        : query_(query),
          model_(model),
          peer_(query.address + ":" + std::to_string(query.port) + " (" + query.calledAETitle +
                ")"),
          responseSeconds_(WholeSeconds(query.timeouts.response)),
          transport_(deadline_, std::chrono::seconds(WholeSeconds(query.timeouts.association))) {}

    const std::string& Peer() const { return peer_; }
    void Open();
    void Send(DcmDataset& request);
    DicomFindResult Receive(const DicomQuery::ResponseHandler& onResponse);

  private:
    T_ASC_Parameters* Prepare();
    void CheckAccepted();
    void CheckTransferSyntax();
    void ReceiveResponse(detail::ResponseCommand& command, std::string_view& data,
                         E_TransferSyntax& xfer, int received);
    [[noreturn]] void FailReceive(const OFCondition& cond, int received);
    [[noreturn]] void FailProtocol(const std::string& what);
    DicomFindResult Finish(DicomDataSets responses, const detail::ResponseCommand& final);

    const DicomQuery::Impl& query_;
    const Model model_;
    const std::string peer_;
    const int responseSeconds_;
    // Declared before the network and the association, which use them.
    detail::ReadDeadline deadline_;
    detail::DeadlineTransport transport_;
    std::unique_ptr<T_ASC_Network, NetworkDeleter> network_;
    std::unique_ptr<Association> association_;
    T_ASC_PresentationContextID presID_ = 0;
    DIC_US messageID_ = 0;       // of the request
    std::string commandBuffer_;  // a command spread over several PDVs, put together
    std::string dataBuffer_;     // the same for a data set
};

T_ASC_Parameters* FindExchange::Prepare() {
    const std::string prepare = "Cannot prepare the association with " + peer_;
    T_ASC_Parameters* params = nullptr;
    detail::CheckCondition(ASC_createAssociationParameters(&params, ASC_DEFAULTMAXPDU), kDicomError,
                           prepare);
    association_ = std::make_unique<Association>(params);
    const std::string calledAddress = query_.address + ":" + std::to_string(query_.port);
    detail::CheckCondition(ASC_setAPTitles(params, query_.callingAETitle.c_str(),
                                           query_.calledAETitle.c_str(), nullptr),
                           kDicomError, prepare);
    detail::CheckCondition(ASC_setPresentationAddresses(params, "localhost", calledAddress.c_str()),
                           kDicomError, prepare);
    // DCMTK copies the list and writes nothing to it.
    auto* transferSyntaxes = const_cast<const char**>(kTransferSyntaxes);
    detail::CheckCondition(
        ASC_addPresentationContext(params, 1, model_.sopClass, transferSyntaxes,
                                   static_cast<int>(std::size(kTransferSyntaxes))),
        kDicomError, prepare);
    return params;
}

void FindExchange::Open() {
    const int associationSeconds = WholeSeconds(query_.timeouts.association);
    T_ASC_Network* rawNetwork = nullptr;
    detail::CheckCondition(ASC_initializeNetwork(NET_REQUESTOR, 0, associationSeconds, &rawNetwork),
                           kNetworkError, "Cannot start the network for " + peer_);
    network_.reset(rawNetwork);
    detail::CheckCondition(ASC_setTransportLayer(network_.get(), &transport_, 0), kNetworkError,
                           "Cannot start the network for " + peer_);
    Prepare();
    // The toolkit keeps the connection timeout process-wide; each query sets
    // its own just before connecting.
    dcmConnectionTimeout.set(WholeSeconds(query_.timeouts.connect));
    const OFCondition cond = association_->Request(network_.get(), associationSeconds);
    // A negotiation that outlasted its deadline fails however DCMTK saw the
    // read that gave up.
    if (cond.bad())
        FailToAssociate(*association_, deadline_.Expired() ? OFCondition(DUL_READTIMEOUT) : cond,
                        peer_, query_.timeouts);
    SocketOptions::SendAtOnce(association_->Get());
    CheckAccepted();
    CheckTransferSyntax();
}

void FindExchange::CheckAccepted() {
    presID_ = ASC_findAcceptedPresentationContextID(association_->Get(), model_.sopClass);
    if (presID_ != 0) return;
    T_ASC_PresentationContext context{};
    std::string why = "not accepted";
    if (ASC_getPresentationContext(association_->Params(), 0, &context).good())
        why = PresentationResultText(context.resultReason);
    association_->Abort();
    throw Exception(kDicomError, "No presentation context accepted by " + peer_ + ": " +
                                     model_.name + " (" + model_.sopClass + ") " + why);
}

// A node may only choose among the transfer syntaxes proposed: one it made up
// would have the identifier and the responses in an encoding nobody agreed on.
void FindExchange::CheckTransferSyntax() {
    T_ASC_PresentationContext context{};
    if (ASC_findAcceptedPresentationContext(association_->Params(), presID_, &context).good() &&
        IsProposed(context.acceptedTransferSyntax))
        return;
    association_->Abort();
    throw Exception(kNetworkError,
                    "No association with " + peer_ + ": the node accepted transfer syntax " +
                        OneLine(context.acceptedTransferSyntax) + ", which was not proposed");
}

void FindExchange::Send(DcmDataset& request) {
    T_DIMSE_Message message{};
    message.CommandField = DIMSE_C_FIND_RQ;
    T_DIMSE_C_FindRQ& findRequest = message.msg.CFindRQ;
    messageID_ = association_->Get()->nextMsgID++;
    findRequest.MessageID = messageID_;
    OFStandard::strlcpy(findRequest.AffectedSOPClassUID, model_.sopClass,
                        sizeof findRequest.AffectedSOPClassUID);
    findRequest.Priority = DIMSE_PRIORITY_MEDIUM;
    findRequest.DataSetType = DIMSE_DATASET_PRESENT;
    const OFCondition cond = DIMSE_sendMessageUsingMemoryData(
        association_->Get(), presID_, &message, nullptr, &request, nullptr, nullptr);
    if (cond.bad()) FailDuringQuery(*association_, cond, peer_, responseSeconds_, 0);
}

// A failed read, with a read that gave up at the deadline told as the
// response timeout it is.
void FindExchange::FailReceive(const OFCondition& cond, int received) {
    if (deadline_.Expired())
        FailDuringQuery(*association_, DUL_READTIMEOUT, peer_, responseSeconds_, received);
    FailDuringQuery(*association_, cond, peer_, responseSeconds_, received);
}

// A message that breaks the exchange's rules: the association is aborted,
// as nothing the node sends after it can be trusted.
void FindExchange::FailProtocol(const std::string& what) {
    association_->Abort();
    throw Exception(kNetworkError, "C-FIND to " + peer_ + " failed: " + what);
}

DicomFindResult FindExchange::Receive(const DicomQuery::ResponseHandler& onResponse) {
    DicomDataSets responses;
    int received = 0;
    while (true) {
        // The response timeout bounds the whole wait for one response, from
        // the first byte of its command to the last of its data set; the
        // time the handler takes is not the node's.
        deadline_.Start(std::chrono::seconds(responseSeconds_));
        detail::ResponseCommand command;
        std::string_view data;
        E_TransferSyntax xfer = EXS_Unknown;
        ReceiveResponse(command, data, xfer, received);
        if (!DimseStatus::IsPending(command.status)) return Finish(std::move(responses), command);
        if (!command.announcesDataSet) continue;
        DicomDataSet response;
        const OFCondition cond = detail::ReadReceivedDataSet(data, xfer, response);
        if (cond.bad()) FailDuringQuery(*association_, cond, peer_, responseSeconds_, received);
        responses.DataSetsAppend(response);
        ++received;
        if (onResponse) onResponse(response);
    }
}

// One response off the wire: its command, checked against the request, and
// the bytes of the data set it announces.
void FindExchange::ReceiveResponse(detail::ResponseCommand& command, std::string_view& data,
                                   E_TransferSyntax& xfer, int received) {
    T_ASC_Association* assoc = association_->Get();
    const std::size_t maxBytes = query_.limits.maxResponseBytes;
    OFCondition cond = detail::ReceiveCommand(assoc, maxBytes, commandBuffer_, command);
    if (cond.bad()) FailReceive(cond, received);
    if (command.commandField != DIMSE_C_FIND_RSP)
        FailProtocol("unexpected message from the node (command " +
                     StatusHex(command.commandField) + ")");
    if (command.messageIDBeingRespondedTo != messageID_)
        FailProtocol("protocol error: response to message ID " +
                     std::to_string(command.messageIDBeingRespondedTo) +
                     " while the request was message ID " + std::to_string(messageID_));
    if (!command.announcesDataSet) return;
    cond = detail::ReceiveDataSetBytes(assoc, maxBytes, dataBuffer_, data, xfer);
    if (cond.bad()) FailReceive(cond, received);
}

// The final response: every response is in, whatever its status says.
DicomFindResult FindExchange::Finish(DicomDataSets responses,
                                     const detail::ResponseCommand& final) {
    // A node that is slow to confirm the release is aborted instead.
    deadline_.Start(std::chrono::seconds(responseSeconds_));
    association_->Release();
    DicomFindResult result;
    result.responses = std::move(responses);
    result.status = final.status;
    result.peer = peer_;
    result.errorComment = OneLine(final.errorComment);
    return result;
}

}  // namespace

DicomQuery::DicomQuery() : impl_(std::make_shared<Impl>()) {}

void DicomQuery::QuerySetCallingAETitle(const std::string& aeTitle) {
    impl_->callingAETitle = aeTitle;
}
void DicomQuery::QuerySetCalledAETitle(const std::string& aeTitle) {
    impl_->calledAETitle = aeTitle;
}
void DicomQuery::QuerySetNodeAddress(const std::string& address) { impl_->address = address; }
void DicomQuery::QuerySetNodePort(std::int32_t port) { impl_->port = port; }
void DicomQuery::QuerySetRoot(const std::string& root) { impl_->root = root; }
void DicomQuery::QuerySetLevel(const std::string& level) { impl_->level = level; }
std::string DicomQuery::QueryGetLevel() const { return impl_->level; }
std::string DicomQuery::QueryGetCalledAETitle() const { return impl_->calledAETitle; }
void DicomQuery::SetTimeouts(const DicomTimeouts& timeouts) { impl_->timeouts = timeouts; }
void DicomQuery::SetLimits(const DicomLimits& limits) { impl_->limits = limits; }

std::string DicomFindResult::FailureText() const {
    std::string message = "C-FIND failed with status " + StatusHex(status) + " from " + peer;
    if (!errorComment.empty()) message += ": " + errorComment;
    return message;
}

DicomFindResult DicomQuery::QueryFind(const DicomDataSet& identifier,
                                      const ResponseHandler& onResponse) {
    const Model model = ModelForRoot(impl_->root);
    FindExchange exchange(*impl_, model);
    if (!dcmDataDict.isDictionaryLoaded())
        throw Exception(kDicomError, "No DICOM data dictionary loaded: check DCMDICTPATH");
    if (impl_->port < 1 || impl_->port > 65535)
        throw Exception(kNetworkError,
                        "Cannot connect to " + exchange.Peer() + ": invalid port number");

    std::unique_ptr<DcmDataset> request = detail::ToDcmDataset(identifier);
    StripCommandGroup(*request);
    exchange.Open();
    exchange.Send(*request);
    return exchange.Receive(onResponse);
}

DicomDataSets DicomQuery::QueryRun(const DicomDataSet& identifier,
                                   const ResponseHandler& onResponse) {
    DicomFindResult result = QueryFind(identifier, onResponse);
    if (!result.Completed()) throw Exception(kStatusError, result.FailureText());
    return std::move(result.responses);
}

}  // namespace lumo::dicom
