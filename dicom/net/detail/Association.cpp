#include "dicom/net/detail/Association.h"

#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/cond.h>
#include <dcmtk/dcmnet/dul.h>
#include <dcmtk/dcmnet/extneg.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <memory>
#include <string_view>

#include "dicom/detail/DcmtkCheck.h"
#include "dicom/net/DicomNames.h"
#include "support/Exception.h"

namespace lumo::dicom {

namespace detail {

namespace {

constexpr ErrorClass kNetworkError = ErrorClass::EDicomNetworkError;
constexpr ErrorClass kRejected = ErrorClass::EDicomAssociationRejected;
constexpr ErrorClass kDicomError = ErrorClass::EDicomError;

// The transfer syntaxes every context proposes: the only ones a node may
// accept, as the console reads no other.
constexpr const char* kTransferSyntaxes[] = {UID_LittleEndianExplicitTransferSyntax,
                                             UID_BigEndianExplicitTransferSyntax,
                                             UID_LittleEndianImplicitTransferSyntax};

T_ASC_SC_ROLE DcmtkRole(ContextRole role) {
    switch (role) {
        case ContextRole::Scu:
            return ASC_SC_ROLE_SCU;
        case ContextRole::Scp:
            return ASC_SC_ROLE_SCP;
        case ContextRole::Both:
            return ASC_SC_ROLE_SCUSCP;
        default:
            return ASC_SC_ROLE_DEFAULT;
    }
}

ContextRole RoleOf(T_ASC_SC_ROLE role) {
    switch (role) {
        case ASC_SC_ROLE_SCU:
            return ContextRole::Scu;
        case ASC_SC_ROLE_SCP:
            return ContextRole::Scp;
        case ASC_SC_ROLE_SCUSCP:
            return ContextRole::Both;
        default:
            return ContextRole::Default;
    }
}

// The same condition with the text the operator should read, so the one
// checkpoint reports what happened rather than the toolkit's wording.
OFCondition Explained(const OFCondition& cond, const std::string& text) {
    return OFCondition(cond.module(), cond.code(), cond.status(), OneLine(text).c_str());
}

bool Contains(const char* text, const char* part) {
    return std::string(text).find(part) != std::string::npos;
}

// How the node ended the association, when it did: DCMTK tells a silent
// close as an abort and wraps most read failures in one of its own, so what
// the node sent, or that it sent nothing more, comes first.
const char* EndedBy(const OFCondition& cond, const AssociationReport& report) {
    if (report.abort) return "association aborted by the node";
    if (report.peerClosed || cond == DUL_NETWORKCLOSED) return "connection closed by the node";
    if (cond == DUL_PEERABORTEDASSOCIATION) return "association aborted by the node";
    return nullptr;
}

std::string RejectReasonText(const AssociationRejection& rejection) {
    const std::string_view name = RejectReasonName(rejection.source, rejection.reason);
    if (!name.empty()) return std::string(name);
    return "reason " + std::to_string(rejection.source << 8 | rejection.reason);
}

std::string PresentationResultText(ContextResult result) {
    switch (result) {
        case ContextResult::UserRejection:
            return "rejected by the node";
        case ContextResult::NoReason:
            return "refused, no reason given";
        case ContextResult::AbstractSyntaxNotSupported:
            return "abstract syntax not supported";
        case ContextResult::TransferSyntaxesNotSupported:
            return "transfer syntaxes not supported";
        default:
            return "not accepted";
    }
}

}  // namespace

int WholeSeconds(std::chrono::milliseconds timeout) {
    const auto ms = std::max<std::chrono::milliseconds::rep>(timeout.count(), 1);
    return static_cast<int>(std::min<std::chrono::milliseconds::rep>((ms + 999) / 1000, 24 * 3600));
}

std::string OneLine(std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return text;
}

std::string StatusHex(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(value));
    return text;
}

Association::Association(const DicomPeer& peer, AssociationReport& report)
    : peer_(peer),
      report_(report),
      peerText_(peer.Text()),
      transport_(deadline_, watch_, stop_,
                 std::chrono::seconds(WholeSeconds(peer.timeouts.association))) {
    report_.callingAETitle = peer.callingAETitle;
    report_.calledAETitle = peer.calledAETitle;
    report_.peerAddress = peer.address;
    report_.peerPort = peer.port;
    report_.ourMaxPdu = peer.maxPdu;
}

Association::~Association() {
    if (open_) ASC_abortAssociation(assoc_);
    report_.connected = watch_.WasConnected();
    if (!report_.abort) report_.abort = watch_.Abort();
    const auto now = std::chrono::steady_clock::now();
    report_.duration = std::chrono::duration_cast<std::chrono::milliseconds>(now - start_);
    ExchangeTimes& times = report_.times;
    times.ended = Since(now);
    if (watch_.ConnectedAt()) times.connected = Since(*watch_.ConnectedAt());
    if (watch_.TlsAt()) times.tlsEstablished = Since(*watch_.TlsAt());
    if (assoc_ != nullptr) {
        ASC_dropAssociation(assoc_);
        ASC_destroyAssociation(&assoc_);  // frees the parameters too
    } else if (params_ != nullptr) {
        ASC_destroyAssociationParameters(&params_);
    }
}

std::vector<std::string> Association::PlainTransferSyntaxes() {
    return {std::begin(kTransferSyntaxes), std::end(kTransferSyntaxes)};
}

void Association::Propose(const std::string& sopClass) {
    Propose(sopClass, PlainTransferSyntaxes(), ContextRole::Default);
}

void Association::Propose(const std::string& sopClass,
                          const std::vector<std::string>& transferSyntaxes, ContextRole role) {
    ProposedContext context;
    // odd, as the standard asks
    context.id = static_cast<std::uint8_t>(2 * report_.contexts.size() + 1);
    context.abstractSyntax = sopClass;
    context.transferSyntaxes = transferSyntaxes;
    context.proposedRole = role;
    report_.contexts.push_back(std::move(context));
}

void Association::ProposeExtended(const std::string& sopClass, std::vector<std::uint8_t> info) {
    report_.extendedProposed.push_back({sopClass, std::move(info)});
}

ExchangeTimes::Duration Association::Since(std::chrono::steady_clock::time_point when) const {
    return std::chrono::duration_cast<ExchangeTimes::Duration>(when - start_);
}

void Association::NoteRequestSent() {
    report_.times.requestSent = Since(std::chrono::steady_clock::now());
}

void Association::NoteResponse() {
    const ExchangeTimes::Duration now = Since(std::chrono::steady_clock::now());
    ExchangeTimes& times = report_.times;
    if (times.lastResponse && times.gaps.size() < ExchangeTimes::kMaxGaps)
        times.gaps.push_back(now - *times.lastResponse);
    if (!times.firstResponse) times.firstResponse = now;
    times.lastResponse = now;
}

// The sub-items go to DCMTK, which frees them (and their bytes) with the
// association's parameters.
void Association::PrepareExtended() {
    if (report_.extendedProposed.empty()) return;
    auto list = std::make_unique<SOPClassExtendedNegotiationSubItemList>();
    for (const ExtendedNegotiation& proposed : report_.extendedProposed) {
        auto item = std::make_unique<SOPClassExtendedNegotiationSubItem>();
        item->sopClassUID = proposed.sopClass.c_str();
        item->serviceClassAppInfoLength = static_cast<unsigned short>(proposed.info.size());
        item->serviceClassAppInfo =
            std::make_unique<unsigned char[]>(proposed.info.size()).release();
        std::copy(proposed.info.begin(), proposed.info.end(), item->serviceClassAppInfo);
        list->push_back(item.release());
    }
    ASC_setRequestedExtNegList(params_, list.release());
}

void Association::Prepare() {
    const std::string prepare = "Cannot prepare the association with " + peerText_;
    if (report_.contexts.size() > 128)
        throw Exception(kDicomError, prepare + ": more than 128 presentation contexts");
    if (peer_.maxPdu < kSmallestMaxPdu || peer_.maxPdu > kLargestMaxPdu)
        throw Exception(kDicomError, prepare + ": maximum PDU size " +
                                         std::to_string(peer_.maxPdu) + " outside " +
                                         std::to_string(kSmallestMaxPdu) + "-" +
                                         std::to_string(kLargestMaxPdu));
    CheckCondition(ASC_createAssociationParameters(&params_, static_cast<Uint32>(peer_.maxPdu)),
                   kDicomError, prepare);
    const std::string calledAddress = peer_.address + ":" + std::to_string(peer_.port);
    CheckCondition(ASC_setAPTitles(params_, peer_.callingAETitle.c_str(),
                                   peer_.calledAETitle.c_str(), nullptr),
                   kDicomError, prepare);
    CheckCondition(ASC_setPresentationAddresses(params_, "localhost", calledAddress.c_str()),
                   kDicomError, prepare);
    // DCMTK copies the list and writes nothing to it.
    std::vector<const char*> transferSyntaxes;
    for (const ProposedContext& context : report_.contexts) {
        transferSyntaxes.clear();
        for (const std::string& uid : context.transferSyntaxes)
            transferSyntaxes.push_back(uid.c_str());
        CheckCondition(
            ASC_addPresentationContext(
                params_, context.id, context.abstractSyntax.c_str(), transferSyntaxes.data(),
                static_cast<int>(transferSyntaxes.size()), DcmtkRole(context.proposedRole)),
            kDicomError, prepare);
    }
    PrepareExtended();
}

// The files are read before anything connects: a node must not be blamed
// for a key that does not open.
void Association::PrepareTls() {
    if (!peer_.tls.enabled) return;
    try {
        tls_ = std::make_unique<TlsContext>(peer_.tls, TlsSide::Requestor);
    } catch (const Exception& e) {
        throw Exception(kDicomError, "Cannot prepare TLS for " + peerText_ + ": " + e.Message());
    }
    report_.tls.emplace();
    transport_.UseTls(*tls_, peer_.address, *report_.tls);
}

std::string Association::TlsCause() const {
    if (report_.tls && !report_.tls->failure.empty()) return report_.tls->failure;
    if (!report_.tls && watch_.SpokeTls())
        return "the node answered in TLS: this port takes DICOM over TLS (--tls)";
    if (!report_.tls && !report_.accepted && watch_.ResetUnheard())
        return "the node reset the connection without answering: if this port takes DICOM over "
               "TLS, use --tls";
    return {};
}

void Association::Open() {
    start_ = std::chrono::steady_clock::now();
    PrepareTls();
    const int associationSeconds = WholeSeconds(peer_.timeouts.association);
    T_ASC_Network* rawNetwork = nullptr;
    CheckCondition(ASC_initializeNetwork(NET_REQUESTOR, 0, associationSeconds, &rawNetwork),
                   kNetworkError, "Cannot start the network for " + peerText_);
    network_.reset(rawNetwork);
    CheckCondition(ASC_setTransportLayer(network_.get(), &transport_, 0), kNetworkError,
                   "Cannot start the network for " + peerText_);
    Prepare();
    if (tls_) ASC_setTransportLayerType(params_, OFTrue);
    // The toolkit keeps the connection timeout process-wide; each exchange
    // sets its own just before connecting.
    dcmConnectionTimeout.set(WholeSeconds(peer_.timeouts.connect));
    const OFCondition cond = ASC_requestAssociation(network_.get(), params_, &assoc_, nullptr,
                                                    nullptr, DUL_NOBLOCK, associationSeconds);
    open_ = cond.good();
    NoteNegotiation(cond);
    // A negotiation that outlasted its deadline fails however DCMTK saw the
    // read that gave up.
    if (cond.bad()) FailToAssociate(deadline_.Expired() ? OFCondition(DUL_READTIMEOUT) : cond);
}

// What the node answered, into the report: its rejection, or its answer to
// each context and what it said of itself.
void Association::NoteNegotiation(const OFCondition& cond) {
    report_.connected = watch_.WasConnected();
    if (cond == DUL_ASSOCIATIONREJECTED) {
        T_ASC_RejectParameters rejection{};
        ASC_getRejectParameters(params_, &rejection);
        report_.rejection =
            AssociationRejection{static_cast<std::uint8_t>(rejection.result),
                                 static_cast<std::uint8_t>(rejection.source),
                                 static_cast<std::uint8_t>(rejection.reason & 0xFF)};
    }
    if (cond.bad()) return;
    report_.accepted = true;
    report_.times.accepted = Since(std::chrono::steady_clock::now());
    report_.localAddress = transport_.LocalAddress();
    for (int i = 0; i < ASC_countPresentationContexts(params_); ++i) {
        T_ASC_PresentationContext answered{};
        if (ASC_getPresentationContext(params_, i, &answered).bad()) continue;
        for (ProposedContext& context : report_.contexts) {
            if (context.id != answered.presentationContextID) continue;
            context.result = static_cast<ContextResult>(answered.resultReason);
            if (context.Accepted()) {
                context.acceptedTransferSyntax = OneLine(answered.acceptedTransferSyntax);
                context.acceptedRole = RoleOf(answered.acceptedRole);
            }
        }
    }
    report_.peerMaxPdu = static_cast<std::uint32_t>(std::max(0L, params_->theirMaxPDUReceiveSize));
    report_.peerImplementationClassUID = OneLine(params_->theirImplementationClassUID);
    report_.peerImplementationVersionName = OneLine(params_->theirImplementationVersionName);
    SOPClassExtendedNegotiationSubItemList* answered = nullptr;
    ASC_getAcceptedExtNegList(params_, &answered);
    if (answered == nullptr) return;
    for (const SOPClassExtendedNegotiationSubItem* item : *answered) {
        const unsigned char* info = item->serviceClassAppInfo;
        report_.extendedAccepted.push_back(
            {OneLine(item->sopClassUID.c_str()),
             info == nullptr
                 ? std::vector<std::uint8_t>()
                 : std::vector<std::uint8_t>(info, info + item->serviceClassAppInfoLength)});
    }
}

void Association::FailToAssociate(const OFCondition& cond) {
    NoteFailure();
    if (report_.rejection)
        CheckCondition(Explained(cond, RejectReasonText(*report_.rejection)), kRejected,
                       "Association rejected by " + peerText_);
    if (cond.module() == OFM_dcmnet &&
        (cond.code() == DULC_TCPINITERROR || cond.code() == DULC_UNKNOWNHOST))
        FailToConnect(cond);
    const std::string associate = "No association with " + peerText_;
    if (const std::string cause = TlsCause(); !cause.empty())
        CheckCondition(Explained(cond, cause), kNetworkError, associate);
    if (cond == DUL_READTIMEOUT || cond == DIMSE_NODATAAVAILABLE)
        CheckCondition(
            Explained(cond, "association timeout after " +
                                std::to_string(WholeSeconds(peer_.timeouts.association)) + " s"),
            kNetworkError, associate);
    if (const char* ended = EndedBy(cond, report_))
        CheckCondition(Explained(cond, ended), kNetworkError, associate);
    CheckCondition(Explained(cond, cond.text()), kNetworkError, associate);
    throw Exception(kNetworkError, associate);  // a bad condition always raised above
}

void Association::FailToConnect(const OFCondition& cond) {
    const std::string connect = "Cannot connect to " + peerText_;
    if (cond.code() == DULC_UNKNOWNHOST)
        CheckCondition(Explained(cond, "unknown host"), kNetworkError, connect);
    const char* text = cond.text();
    if (Contains(text, "(Timeout)"))
        CheckCondition(
            Explained(cond, "connection timeout after " +
                                std::to_string(WholeSeconds(peer_.timeouts.connect)) + " s"),
            kNetworkError, connect);
    if (Contains(text, "refused"))
        CheckCondition(Explained(cond, "connection refused"), kNetworkError, connect);
    if (Contains(text, "No route") || Contains(text, "Host is unreachable"))
        CheckCondition(Explained(cond, "host unreachable"), kNetworkError, connect);
    if (Contains(text, "Network is unreachable"))
        CheckCondition(Explained(cond, "network unreachable"), kNetworkError, connect);
    CheckCondition(cond, kNetworkError, connect);
    throw Exception(kNetworkError, connect);  // a bad condition always raised above
}

T_ASC_PresentationContextID Association::Require(const std::string& sopClass,
                                                 const std::string& name) {
    std::string why;
    const T_ASC_PresentationContextID id = Accepted(sopClass, name, why);
    if (id == 0) {
        Abort();
        throw Exception(kDicomError, why);
    }
    return id;
}

T_ASC_PresentationContextID Association::Accepted(const std::string& sopClass,
                                                  const std::string& name, std::string& why) {
    const T_ASC_PresentationContextID id =
        ASC_findAcceptedPresentationContextID(assoc_, sopClass.c_str());
    if (id == 0) {
        std::string result = "not accepted";
        for (const ProposedContext& context : report_.contexts)
            if (context.abstractSyntax == sopClass) result = PresentationResultText(context.result);
        why = "No presentation context accepted by " + peerText_ + ": " + name + " (" + sopClass +
              ") " + result;
        return 0;
    }
    CheckTransferSyntax(id);
    return id;
}

// A node may only choose among the transfer syntaxes proposed: one it made up
// would have the identifier and the responses in an encoding nobody agreed on.
void Association::CheckTransferSyntax(T_ASC_PresentationContextID id) {
    T_ASC_PresentationContext context{};
    if (ASC_findAcceptedPresentationContext(params_, id, &context).good()) {
        for (const ProposedContext& proposed : report_.contexts) {
            if (proposed.id != id) continue;
            if (std::find(proposed.transferSyntaxes.begin(), proposed.transferSyntaxes.end(),
                          std::string(context.acceptedTransferSyntax)) !=
                proposed.transferSyntaxes.end())
                return;
        }
    }
    Abort();
    throw Exception(kNetworkError,
                    "No association with " + peerText_ + ": the node accepted transfer syntax " +
                        OneLine(context.acceptedTransferSyntax) + ", which was not proposed");
}

std::uint16_t Association::NextMessageID() { return assoc_->nextMsgID++; }

void Association::StartResponse() { deadline_.Start(ResponseBound()); }

std::chrono::milliseconds Association::ResponseBound() const {
    return std::chrono::seconds(WholeSeconds(peer_.timeouts.response));
}

void Association::Release() {
    if (!open_) return;
    open_ = false;
    // A node that is slow to confirm the release is aborted instead.
    StartResponse();
    if (ASC_releaseAssociation(assoc_).bad()) {
        ASC_abortAssociation(assoc_);
        return;
    }
    report_.released = true;
}

void Association::Abort() {
    if (!open_) return;
    open_ = false;
    ASC_abortAssociation(assoc_);
}

void Association::Fail(const OFCondition& given, const std::string& command,
                       const std::string& after) {
    // What the node did is read before the abort, whose own ending the
    // watch would see too.
    NoteFailure();
    const char* ended = EndedBy(given, report_);
    Abort();
    // A read that gave up at the deadline is the response timeout it is.
    const OFCondition cond = deadline_.Expired() ? OFCondition(DUL_READTIMEOUT) : given;
    const std::string what = command + " to " + peerText_ + " failed";
    if (const std::string cause = TlsCause(); !cause.empty())
        CheckCondition(Explained(cond, cause), kNetworkError, what);
    if (cond == DIMSE_NODATAAVAILABLE || cond == DUL_READTIMEOUT)
        CheckCondition(
            Explained(cond, "response timeout after " +
                                std::to_string(WholeSeconds(peer_.timeouts.response)) + " s"),
            kNetworkError, what);
    if (ended != nullptr) CheckCondition(Explained(cond, ended + after), kNetworkError, what);
    CheckCondition(Explained(cond, cond.text()), kNetworkError, what);
    throw Exception(kNetworkError, what);  // a bad condition always raised above
}

void Association::NoteFailure() {
    report_.abort = watch_.Abort();
    report_.peerClosed = watch_.Closed() && !watch_.Abort();
}

void Association::FailProtocol(const std::string& command, const std::string& what) {
    Abort();
    throw Exception(kNetworkError, command + " to " + peerText_ + " failed: " + what);
}

}  // namespace detail
}  // namespace lumo::dicom
