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

DicomDataSets DicomQuery::QueryRun(const DicomDataSet& identifier,
                                   const ResponseHandler& onResponse) {
    const Impl& query = *impl_;
    const std::string peer =
        query.address + ":" + std::to_string(query.port) + " (" + query.calledAETitle + ")";
    const Model model = ModelForRoot(query.root);
    if (!dcmDataDict.isDictionaryLoaded())
        throw Exception(kDicomError, "No DICOM data dictionary loaded: check DCMDICTPATH");
    if (query.port < 1 || query.port > 65535)
        throw Exception(kNetworkError, "Cannot connect to " + peer + ": invalid port number");

    std::unique_ptr<DcmDataset> request = detail::ToDcmDataset(identifier);
    StripCommandGroup(*request);

    const int connectSeconds = WholeSeconds(query.timeouts.connect);
    const int associationSeconds = WholeSeconds(query.timeouts.association);
    const int responseSeconds = WholeSeconds(query.timeouts.response);

    T_ASC_Network* rawNetwork = nullptr;
    detail::CheckCondition(ASC_initializeNetwork(NET_REQUESTOR, 0, associationSeconds, &rawNetwork),
                           kNetworkError, "Cannot start the network for " + peer);
    std::unique_ptr<T_ASC_Network, NetworkDeleter> network(rawNetwork);

    T_ASC_Parameters* params = nullptr;
    detail::CheckCondition(ASC_createAssociationParameters(&params, ASC_DEFAULTMAXPDU), kDicomError,
                           "Cannot prepare the association with " + peer);
    Association association(params);
    const std::string calledAddress = query.address + ":" + std::to_string(query.port);
    const char* transferSyntaxes[] = {UID_LittleEndianExplicitTransferSyntax,
                                      UID_BigEndianExplicitTransferSyntax,
                                      UID_LittleEndianImplicitTransferSyntax};
    detail::CheckCondition(
        ASC_setAPTitles(params, query.callingAETitle.c_str(), query.calledAETitle.c_str(), nullptr),
        kDicomError, "Cannot prepare the association with " + peer);
    detail::CheckCondition(ASC_setPresentationAddresses(params, "localhost", calledAddress.c_str()),
                           kDicomError, "Cannot prepare the association with " + peer);
    detail::CheckCondition(
        ASC_addPresentationContext(params, 1, model.sopClass, transferSyntaxes, 3), kDicomError,
        "Cannot prepare the association with " + peer);

    // The toolkit keeps the connection timeout process-wide; each query sets
    // its own just before connecting.
    dcmConnectionTimeout.set(connectSeconds);
    OFCondition cond = association.Request(network.get(), associationSeconds);
    if (cond.bad()) FailToAssociate(association, cond, peer, query.timeouts);
    SocketOptions::SendAtOnce(association.Get());

    const T_ASC_PresentationContextID presID =
        ASC_findAcceptedPresentationContextID(association.Get(), model.sopClass);
    if (presID == 0) {
        T_ASC_PresentationContext context{};
        std::string why = "not accepted";
        if (ASC_getPresentationContext(params, 0, &context).good())
            why = PresentationResultText(context.resultReason);
        association.Abort();
        throw Exception(kDicomError, "No presentation context accepted by " + peer + ": " +
                                         model.name + " (" + model.sopClass + ") " + why);
    }

    T_DIMSE_Message message{};
    message.CommandField = DIMSE_C_FIND_RQ;
    T_DIMSE_C_FindRQ& findRequest = message.msg.CFindRQ;
    findRequest.MessageID = association.Get()->nextMsgID++;
    OFStandard::strlcpy(findRequest.AffectedSOPClassUID, model.sopClass,
                        sizeof findRequest.AffectedSOPClassUID);
    findRequest.Priority = DIMSE_PRIORITY_MEDIUM;
    findRequest.DataSetType = DIMSE_DATASET_PRESENT;
    cond = DIMSE_sendMessageUsingMemoryData(association.Get(), presID, &message, nullptr,
                                            request.get(), nullptr, nullptr);
    if (cond.bad()) FailDuringQuery(association, cond, peer, responseSeconds, 0);

    const T_DIMSE_BlockingMode blocking =
        SocketOptions::BoundReads(association.Get(), responseSeconds) ? DIMSE_BLOCKING
                                                                      : DIMSE_NONBLOCKING;
    // A failed read, with a read that hit the socket's bound told as the
    // response timeout it is.
    auto failReceive = [&](const OFCondition& failed, std::chrono::steady_clock::time_point started,
                           int received) {
        if (blocking == DIMSE_BLOCKING && IsReadBound(failed, started, responseSeconds))
            FailDuringQuery(association, DUL_READTIMEOUT, peer, responseSeconds, received);
        FailDuringQuery(association, failed, peer, responseSeconds, received);
    };

    DicomDataSets responses;
    int received = 0;
    std::string dataBuffer;  // a data set spread over several PDVs, put together
    while (true) {
        T_DIMSE_Message reply{};
        T_ASC_PresentationContextID replyPresID = 0;
        DcmDataset* rawDetail = nullptr;
        auto started = std::chrono::steady_clock::now();
        cond = DIMSE_receiveCommand(association.Get(), blocking, responseSeconds, &replyPresID,
                                    &reply, &rawDetail);
        std::unique_ptr<DcmDataset> statusDetail(rawDetail);
        if (cond.bad()) failReceive(cond, started, received);
        if (reply.CommandField != DIMSE_C_FIND_RSP) {
            association.Abort();
            throw Exception(kNetworkError,
                            "C-FIND to " + peer +
                                " failed: unexpected message from the node (command " +
                                StatusHex(static_cast<Uint16>(reply.CommandField)) + ")");
        }
        const T_DIMSE_C_FindRSP& findResponse = reply.msg.CFindRSP;

        std::string_view data;
        bool hasData = false;
        E_TransferSyntax xfer = EXS_Unknown;
        if (findResponse.DataSetType != DIMSE_DATASET_NULL) {
            started = std::chrono::steady_clock::now();
            cond = ReceiveDataSetBytes(association.Get(), blocking, responseSeconds, dataBuffer,
                                       data, xfer);
            if (cond.bad()) failReceive(cond, started, received);
            hasData = true;
        }

        const Uint16 status = findResponse.DimseStatus;
        if (DICOM_PENDING_STATUS(status)) {
            if (hasData) {
                DicomDataSet response;
                cond = detail::ReadReceivedDataSet(data, xfer, response);
                if (cond.bad()) FailDuringQuery(association, cond, peer, responseSeconds, received);
                responses.DataSetsAppend(response);
                ++received;
                if (onResponse) onResponse(response);
            }
            continue;
        }
        // Success, a warning or the end of a cancel: every response is in.
        if (status == STATUS_Success || DICOM_WARNING_STATUS(status) ||
            status == STATUS_FIND_Cancel_MatchingTerminatedDueToCancelRequest) {
            association.Release();
            return responses;
        }
        association.Release();
        std::string message = "C-FIND failed with status " + StatusHex(status) + " from " + peer;
        OFString comment;
        if (statusDetail && statusDetail->findAndGetOFString(DCM_ErrorComment, comment).good() &&
            !comment.empty())
            message += ": " + OneLine(comment.c_str());
        throw Exception(kStatusError, message);
    }
}

}  // namespace lumo::dicom
