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
#include <sys/time.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "dicom/DcmConvert.h"
#include "dicom/DcmtkCheck.h"
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

    // Responses are read blocking, each read bounded by the socket itself:
    // DCMTK's own timeout polls the socket before every read, which doubles
    // the system calls of a long listing. False when the bound cannot be set,
    // and the caller keeps DCMTK's polling.
    static bool BoundReads(T_ASC_Association* assoc, int seconds) {
        const int socket = SocketOf(assoc);
        if (socket < 0) return false;
        timeval bound{};
        bound.tv_sec = seconds;
        return ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound) == 0;
    }
};

// A blocking read that ran into the socket's bound does not fail as DCMTK's
// own timeout: the upper layer takes the failed read for a lost connection
// (an I/O error, a failed PDV read, or an abort once its state machine has
// seen it). Told apart from a real loss by how long the read waited.
bool IsReadBound(const OFCondition& cond, std::chrono::steady_clock::time_point started,
                 int seconds) {
    const bool lost = (cond.module() == OFM_dcmnet &&
                       (cond.code() == DULC_TCPIOERROR || cond.code() == DIMSEC_READPDVFAILED)) ||
                      cond == DUL_PEERABORTEDASSOCIATION || cond == DUL_NETWORKCLOSED;
    if (!lost) return false;
    return std::chrono::steady_clock::now() - started >=
           std::chrono::seconds(seconds) - std::chrono::milliseconds(50);
}

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

// The bytes of the data set that follows a response's command, PDV by PDV
// (with the checks DCMTK's own receiving makes), and the transfer syntax of
// its presentation context. A data set in one PDV is not copied: `bytes`
// views the upper layer's buffer, valid until the next read. Reading the
// bytes here, rather than through DIMSE_receiveDataSetInMemory, lets a plain
// response go straight into the toolkit's data set.
OFCondition ReceiveDataSetBytes(T_ASC_Association* assoc, T_DIMSE_BlockingMode blocking,
                                int timeoutSeconds, std::string& buffer, std::string_view& bytes,
                                E_TransferSyntax& xfer) {
    buffer.clear();
    bytes = std::string_view();
    T_ASC_PresentationContextID presID = 0;
    for (int count = 0;; ++count) {
        DUL_PDV pdv{};
        if (DUL_NextPDV(&assoc->DULassociation, &pdv).bad()) {
            if (blocking == DIMSE_NONBLOCKING && !ASC_dataWaiting(assoc, timeoutSeconds))
                return DIMSE_NODATAAVAILABLE;
            OFCondition cond =
                DUL_ReadPDVs(&assoc->DULassociation, nullptr,
                             blocking == DIMSE_BLOCKING ? DUL_BLOCK : DUL_NOBLOCK, timeoutSeconds);
            if (cond != DUL_PDATAPDUARRIVED) {
                if (cond == DUL_PEERREQUESTEDRELEASE || cond == DUL_PEERABORTEDASSOCIATION)
                    return cond;
                return makeDcmnetSubCondition(DIMSEC_READPDVFAILED, OF_error,
                                              "DIMSE Read PDV failed", cond);
            }
            cond = DUL_NextPDV(&assoc->DULassociation, &pdv);
            if (cond.bad())
                return makeDcmnetSubCondition(DIMSEC_READPDVFAILED, OF_error,
                                              "DIMSE Read PDV failed", cond);
        }
        if (pdv.pdvType != DUL_DATASETPDV) return DIMSE_UNEXPECTEDPDVTYPE;
        if (count == 0) {
            presID = pdv.presentationContextID;
            T_ASC_PresentationContext context{};
            const OFCondition cond =
                ASC_findAcceptedPresentationContext(assoc->params, presID, &context);
            if (cond.bad())
                return makeDcmnetSubCondition(DIMSEC_RECEIVEFAILED, OF_error,
                                              "DIMSE Failed to receive message", cond);
            xfer = DcmXfer(context.acceptedTransferSyntax).getXfer();
        } else if (pdv.presentationContextID != presID) {
            return makeDcmnetCondition(DIMSEC_RECEIVEFAILED, OF_error,
                                       "DIMSE: Different presentation contexts inside a data set");
        }
        if (pdv.fragmentLength % 2 != 0)
            return makeDcmnetCondition(DIMSEC_RECEIVEFAILED, OF_error,
                                       "DIMSE: Odd fragment length");
        const char* data = static_cast<const char*>(pdv.data);
        const std::size_t length = pdv.fragmentLength;
        if (count == 0 && pdv.lastPDV) {
            bytes = std::string_view(length == 0 ? "" : data, length);
            return EC_Normal;
        }
        if (length > 0) buffer.append(data, length);
        if (pdv.lastPDV) {
            bytes = buffer;
            return EC_Normal;
        }
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
// request, read every response, release it. Owns the network and the
// association; an association still open when it goes (a failed exchange) is
// aborted. Used on the calling thread only.
class FindExchange {
  public:
    FindExchange(const DicomQuery::Impl& query, const Model& model)
        : query_(query),
          model_(model),
          peer_(query.address + ":" + std::to_string(query.port) + " (" + query.calledAETitle +
                ")"),
          responseSeconds_(WholeSeconds(query.timeouts.response)) {}

    const std::string& Peer() const { return peer_; }
    void Open();
    void Send(DcmDataset& request);
    DicomFindResult Receive(const DicomQuery::ResponseHandler& onResponse);

  private:
    T_ASC_Parameters* Prepare();
    void CheckAccepted();
    [[noreturn]] void FailReceive(const OFCondition& cond,
                                  std::chrono::steady_clock::time_point started, int received);
    DicomFindResult Finish(DicomDataSets responses, Uint16 status, DcmDataset* statusDetail);

    const DicomQuery::Impl& query_;
    const Model model_;
    const std::string peer_;
    const int responseSeconds_;
    std::unique_ptr<T_ASC_Network, NetworkDeleter> network_;
    std::unique_ptr<Association> association_;
    T_ASC_PresentationContextID presID_ = 0;
    T_DIMSE_BlockingMode blocking_ = DIMSE_NONBLOCKING;
};

T_ASC_Parameters* FindExchange::Prepare() {
    const std::string prepare = "Cannot prepare the association with " + peer_;
    T_ASC_Parameters* params = nullptr;
    detail::CheckCondition(ASC_createAssociationParameters(&params, ASC_DEFAULTMAXPDU), kDicomError,
                           prepare);
    association_ = std::make_unique<Association>(params);
    const std::string calledAddress = query_.address + ":" + std::to_string(query_.port);
    const char* transferSyntaxes[] = {UID_LittleEndianExplicitTransferSyntax,
                                      UID_BigEndianExplicitTransferSyntax,
                                      UID_LittleEndianImplicitTransferSyntax};
    detail::CheckCondition(ASC_setAPTitles(params, query_.callingAETitle.c_str(),
                                           query_.calledAETitle.c_str(), nullptr),
                           kDicomError, prepare);
    detail::CheckCondition(ASC_setPresentationAddresses(params, "localhost", calledAddress.c_str()),
                           kDicomError, prepare);
    detail::CheckCondition(
        ASC_addPresentationContext(params, 1, model_.sopClass, transferSyntaxes, 3), kDicomError,
        prepare);
    return params;
}

void FindExchange::Open() {
    const int associationSeconds = WholeSeconds(query_.timeouts.association);
    T_ASC_Network* rawNetwork = nullptr;
    detail::CheckCondition(ASC_initializeNetwork(NET_REQUESTOR, 0, associationSeconds, &rawNetwork),
                           kNetworkError, "Cannot start the network for " + peer_);
    network_.reset(rawNetwork);
    Prepare();
    // The toolkit keeps the connection timeout process-wide; each query sets
    // its own just before connecting.
    dcmConnectionTimeout.set(WholeSeconds(query_.timeouts.connect));
    const OFCondition cond = association_->Request(network_.get(), associationSeconds);
    if (cond.bad()) FailToAssociate(*association_, cond, peer_, query_.timeouts);
    SocketOptions::SendAtOnce(association_->Get());
    CheckAccepted();
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

void FindExchange::Send(DcmDataset& request) {
    T_DIMSE_Message message{};
    message.CommandField = DIMSE_C_FIND_RQ;
    T_DIMSE_C_FindRQ& findRequest = message.msg.CFindRQ;
    findRequest.MessageID = association_->Get()->nextMsgID++;
    OFStandard::strlcpy(findRequest.AffectedSOPClassUID, model_.sopClass,
                        sizeof findRequest.AffectedSOPClassUID);
    findRequest.Priority = DIMSE_PRIORITY_MEDIUM;
    findRequest.DataSetType = DIMSE_DATASET_PRESENT;
    const OFCondition cond = DIMSE_sendMessageUsingMemoryData(
        association_->Get(), presID_, &message, nullptr, &request, nullptr, nullptr);
    if (cond.bad()) FailDuringQuery(*association_, cond, peer_, responseSeconds_, 0);
    blocking_ = SocketOptions::BoundReads(association_->Get(), responseSeconds_)
                    ? DIMSE_BLOCKING
                    : DIMSE_NONBLOCKING;
}

// A failed read, with a read that hit the socket's bound told as the
// response timeout it is.
void FindExchange::FailReceive(const OFCondition& cond,
                               std::chrono::steady_clock::time_point started, int received) {
    if (blocking_ == DIMSE_BLOCKING && IsReadBound(cond, started, responseSeconds_))
        FailDuringQuery(*association_, DUL_READTIMEOUT, peer_, responseSeconds_, received);
    FailDuringQuery(*association_, cond, peer_, responseSeconds_, received);
}

DicomFindResult FindExchange::Receive(const DicomQuery::ResponseHandler& onResponse) {
    T_ASC_Association* assoc = association_->Get();
    DicomDataSets responses;
    int received = 0;
    std::string dataBuffer;  // a data set spread over several PDVs, put together
    while (true) {
        T_DIMSE_Message reply{};
        T_ASC_PresentationContextID replyPresID = 0;
        DcmDataset* rawDetail = nullptr;
        auto started = std::chrono::steady_clock::now();
        OFCondition cond = DIMSE_receiveCommand(assoc, blocking_, responseSeconds_, &replyPresID,
                                                &reply, &rawDetail);
        std::unique_ptr<DcmDataset> statusDetail(rawDetail);
        if (cond.bad()) FailReceive(cond, started, received);
        if (reply.CommandField != DIMSE_C_FIND_RSP) {
            association_->Abort();
            throw Exception(kNetworkError,
                            "C-FIND to " + peer_ +
                                " failed: unexpected message from the node (command " +
                                StatusHex(static_cast<Uint16>(reply.CommandField)) + ")");
        }
        const T_DIMSE_C_FindRSP& findResponse = reply.msg.CFindRSP;
        std::string_view data;
        E_TransferSyntax xfer = EXS_Unknown;
        const bool hasData = findResponse.DataSetType != DIMSE_DATASET_NULL;
        if (hasData) {
            started = std::chrono::steady_clock::now();
            cond = ReceiveDataSetBytes(assoc, blocking_, responseSeconds_, dataBuffer, data, xfer);
            if (cond.bad()) FailReceive(cond, started, received);
        }
        if (!DimseStatus::IsPending(findResponse.DimseStatus))
            return Finish(std::move(responses), findResponse.DimseStatus, statusDetail.get());
        if (!hasData) continue;
        DicomDataSet response;
        cond = detail::ReadReceivedDataSet(data, xfer, response);
        if (cond.bad()) FailDuringQuery(*association_, cond, peer_, responseSeconds_, received);
        responses.DataSetsAppend(response);
        ++received;
        if (onResponse) onResponse(response);
    }
}

// The final response: every response is in, whatever its status says.
DicomFindResult FindExchange::Finish(DicomDataSets responses, Uint16 status,
                                     DcmDataset* statusDetail) {
    association_->Release();
    DicomFindResult result;
    result.responses = std::move(responses);
    result.status = status;
    result.peer = peer_;
    OFString comment;
    if (statusDetail && statusDetail->findAndGetOFString(DCM_ErrorComment, comment).good())
        result.errorComment = OneLine(comment.c_str());
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
