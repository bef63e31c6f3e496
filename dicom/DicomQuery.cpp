#include "dicom/DicomQuery.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcdict.h>
#include <dcmtk/dcmdata/dcelem.h>
#include <dcmtk/dcmdata/dcuid.h>
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
#include <cstdio>
#include <memory>
#include <string>

#include "dicom/DcmConvert.h"
#include "dicom/DcmtkCheck.h"
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

constexpr const char* kNetworkError = "EDicomNetworkError";
constexpr const char* kRejected = "EDicomAssociationRejected";
constexpr const char* kDicomError = "EDicomError";
constexpr const char* kStatusError = "EDicomStatusError";

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

// A DIMSE message goes out as two writes, command then data set; with
// Nagle's algorithm the second waits for the node's delayed acknowledgement,
// some 40 ms on every query. DCMTK keeps the socket to itself (a protected
// member), hence this accessor.
struct SocketOptions : DcmTransportConnection {
    static void SendAtOnce(T_ASC_Association* assoc) {
        DcmTransportConnection* connection = DUL_getTransportConnection(assoc->DULassociation);
        if (!connection) return;
        const int socket = (connection->*(&SocketOptions::getSocket))();
        const int on = 1;
        // Only a matter of speed: a failure changes nothing else.
        (void)::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
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

DicomDataSets DicomQuery::QueryRun(const DicomDataSet& identifier) {
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

    DicomDataSets responses;
    int received = 0;
    while (true) {
        T_DIMSE_Message reply{};
        T_ASC_PresentationContextID replyPresID = 0;
        DcmDataset* rawDetail = nullptr;
        cond = DIMSE_receiveCommand(association.Get(), DIMSE_NONBLOCKING, responseSeconds,
                                    &replyPresID, &reply, &rawDetail);
        std::unique_ptr<DcmDataset> statusDetail(rawDetail);
        if (cond.bad()) FailDuringQuery(association, cond, peer, responseSeconds, received);
        if (reply.CommandField != DIMSE_C_FIND_RSP) {
            association.Abort();
            throw Exception(kNetworkError,
                            "C-FIND to " + peer +
                                " failed: unexpected message from the node (command " +
                                StatusHex(static_cast<Uint16>(reply.CommandField)) + ")");
        }
        const T_DIMSE_C_FindRSP& findResponse = reply.msg.CFindRSP;

        std::unique_ptr<DcmDataset> data;
        if (findResponse.DataSetType != DIMSE_DATASET_NULL) {
            DcmDataset* rawData = nullptr;
            cond =
                DIMSE_receiveDataSetInMemory(association.Get(), DIMSE_NONBLOCKING, responseSeconds,
                                             &replyPresID, &rawData, nullptr, nullptr);
            data.reset(rawData);
            if (cond.bad()) FailDuringQuery(association, cond, peer, responseSeconds, received);
        }

        const Uint16 status = findResponse.DimseStatus;
        if (DICOM_PENDING_STATUS(status)) {
            if (data) {
                responses.DataSetsAppend(detail::FromDcmItem(*data));
                ++received;
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
