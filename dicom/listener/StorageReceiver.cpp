#include "dicom/listener/StorageReceiver.h"

#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/dcmnet/dimse.h>
#include <dcmtk/dcmnet/dul.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include "dicom/listener/detail/ListenerTransport.h"
#include "dicom/net/detail/Association.h"
#include "dicom/net/detail/InstanceIntake.h"
#include "dicom/net/detail/ResponseReceiver.h"
#include "dicom/net/detail/TlsContext.h"
#include "support/Exception.h"
#include "support/FileDescriptor.h"

namespace lumo::dicom {

namespace {

using detail::CallerState;

constexpr std::size_t kMaxCommandBytes = std::size_t{1} << 20;
// How long Stop lets associations under way end by themselves.
constexpr std::chrono::seconds kDrainWait{2};
constexpr int kDropWaitSeconds = 2;

std::string Trimmed(const char* text) {
    std::string s(text);
    const std::size_t first = s.find_first_not_of(' ');
    const std::size_t last = s.find_last_not_of(' ');
    return first == std::string::npos ? std::string() : s.substr(first, last - first + 1);
}

std::uint16_t PeerPort(int socket) {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return 0;
    return ntohs(peer.sin_port);
}

// The transfer syntax to accept for a context: explicit VR little endian
// when proposed, else the first proposed that DCMTK can read; empty when none.
std::string ChosenTransferSyntax(const T_ASC_PresentationContext& context) {
    for (int i = 0; i < context.transferSyntaxCount; ++i)
        if (std::string_view(context.proposedTransferSyntaxes[i]) ==
            UID_LittleEndianExplicitTransferSyntax)
            return UID_LittleEndianExplicitTransferSyntax;
    for (int i = 0; i < context.transferSyntaxCount; ++i)
        if (DcmXfer(context.proposedTransferSyntaxes[i]).getXfer() != EXS_Unknown)
            return context.proposedTransferSyntaxes[i];
    return {};
}

bool Storable(const char* sopClass) {
    return dcmIsaStorageSOPClassUID(sopClass, ESSC_All) ||
           std::string_view(sopClass) == UID_VerificationSOPClass;
}

// Accepts what the receiver takes, refuses the rest, and notes both in the
// report as the node proposed them.
void AnswerContexts(T_ASC_Parameters* params, AssociationReport& report) {
    for (int i = 0; i < ASC_countPresentationContexts(params); ++i) {
        T_ASC_PresentationContext context{};
        if (ASC_getPresentationContext(params, i, &context).bad()) continue;
        ProposedContext noted;
        noted.id = context.presentationContextID;
        noted.abstractSyntax = context.abstractSyntax;
        for (int t = 0; t < context.transferSyntaxCount; ++t)
            noted.transferSyntaxes.emplace_back(context.proposedTransferSyntaxes[t]);
        const std::string chosen =
            Storable(context.abstractSyntax) ? ChosenTransferSyntax(context) : std::string();
        if (chosen.empty()) {
            const T_ASC_P_ResultReason reason = Storable(context.abstractSyntax)
                                                    ? ASC_P_TRANSFERSYNTAXESNOTSUPPORTED
                                                    : ASC_P_ABSTRACTSYNTAXNOTSUPPORTED;
            ASC_refusePresentationContext(params, context.presentationContextID, reason);
            noted.result = static_cast<ContextResult>(reason);
        } else if (ASC_acceptPresentationContext(params, context.presentationContextID,
                                                 chosen.c_str())
                       .good()) {
            noted.result = ContextResult::Acceptance;
            noted.acceptedTransferSyntax = chosen;
        }
        report.contexts.push_back(std::move(noted));
    }
}

// One association's thread and its caller.
struct Session {
    std::thread thread;
    CallerState caller;     // the accepting thread, then the session's own
    bool finished = false;  // under Impl::mutex
};

// Frees an association on every path, in DCMTK's order.
class AssociationGuard {
  public:
    explicit AssociationGuard(T_ASC_Association*& association) : association_(association) {}
    ~AssociationGuard() {
        if (association_ == nullptr) return;
        if (established_) ASC_abortAssociation(association_);
        ASC_dropSCPAssociation(association_, kDropWaitSeconds);
        ASC_destroyAssociation(&association_);
    }
    AssociationGuard(const AssociationGuard&) = delete;
    AssociationGuard& operator=(const AssociationGuard&) = delete;
    void SetEstablished(bool established) { established_ = established; }

  private:
    T_ASC_Association*& association_;
    bool established_ = false;
};

}  // namespace

struct StorageReceiver::Impl {
    Impl(ReceivedInstances given, StorageReceiverSettings chosen)
        : received(std::move(given)),
          settings(std::move(chosen)),
          count(settings.maxAssociations, settings.maxAssociations) {
        timeouts.negotiation = settings.associationSeconds;
        timeouts.message = settings.messageSeconds;
    }
    ~Impl() {
        if (network != nullptr) ASC_dropNetwork(&network);
    }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    void AcceptLoop();
    void Serve(Session& session, T_ASC_Association* association);
    void ServeInstances(Session& session, T_ASC_Association* association, AssociationReport& report,
                        std::size_t connection);
    void JoinFinished();

    ReceivedInstances received;
    const StorageReceiverSettings settings;
    detail::SocketWatch watch;
    detail::AssociationCount count;
    detail::CallerTimeouts timeouts;
    std::unique_ptr<detail::TlsContext> tls;
    Session* accepting = nullptr;  // the accepting thread only
    std::unique_ptr<detail::WatchingLayer> layer;
    T_ASC_Network* network = nullptr;
    int listenSocket = -1;  // owned by the network
    FileDescriptor wake;
    std::atomic<bool> stopping{false};
    std::mutex mutex;
    std::condition_variable changed;
    std::list<std::shared_ptr<Session>> sessions;  // under mutex
    std::thread acceptThread;
    int port = 0;
};

// Waits for callers, receives each association request here and serves the
// association on a thread of its own.
void StorageReceiver::Impl::AcceptLoop() {
    while (!stopping.load()) {
        JoinFinished();
        pollfd fds[2] = {{wake.Get(), POLLIN, 0}, {listenSocket, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (stopping.load()) return;
        if (fds[1].revents == 0) continue;
        auto session = std::make_shared<Session>();
        accepting = session.get();
        T_ASC_Association* association = nullptr;
        const OFCondition cond = ASC_receiveAssociation(network, &association, ASC_DEFAULTMAXPDU,
                                                        nullptr, nullptr, tls ? OFTrue : OFFalse,
                                                        DUL_NOBLOCK, settings.associationSeconds);
        accepting = nullptr;
        if (cond.bad()) {
            AssociationGuard guard(association);
            continue;
        }
        try {
            const std::lock_guard lock(mutex);
            Session& served = *session;
            session->thread =
                std::thread([this, &served, association] { Serve(served, association); });
            sessions.push_back(std::move(session));
        } catch (const std::system_error&) {
            AssociationGuard guard(association);  // out of threads: the caller is dropped
        }
    }
}

void StorageReceiver::Impl::JoinFinished() {
    std::list<std::shared_ptr<Session>> done;
    {
        const std::lock_guard lock(mutex);
        for (auto it = sessions.begin(); it != sessions.end();) {
            const auto next = std::next(it);
            if ((*it)->finished) done.splice(done.end(), sessions, it);
            it = next;
        }
    }
    for (auto& session : done)
        if (session->thread.joinable()) session->thread.join();
}

// The life of one store association, on its own thread: accepted whatever
// its titles, noted, served until it ends; its report goes to the tally.
void StorageReceiver::Impl::Serve(Session& session, T_ASC_Association* association) {
    {
        AssociationGuard guard(association);
        AssociationReport report;
        report.command = "C-STORE";
        report.connected = true;
        report.peerAddress = session.caller.address;
        report.peerPort = PeerPort(session.caller.socket);
        const auto start = std::chrono::steady_clock::now();
        const DUL_ASSOCIATESERVICEPARAMETERS& dul = association->params->DULparams;
        report.callingAETitle = Trimmed(dul.callingAPTitle);
        report.calledAETitle = Trimmed(dul.calledAPTitle);
        if (!session.caller.admitted) {
            T_ASC_RejectParameters reject{ASC_RESULT_REJECTEDTRANSIENT,
                                          ASC_SOURCE_SERVICEPROVIDER_PRESENTATION_RELATED,
                                          ASC_REASON_SP_PRES_LOCALLIMITEXCEEDED};
            ASC_rejectAssociation(association, &reject);
        } else {
            // The request came whole in time: its place is its own.
            session.caller.until.reset();
            if (session.caller.ticket != nullptr) session.caller.ticket->Settle();
            session.caller.ticket = nullptr;
            AnswerContexts(association->params, report);
            const T_ASC_Parameters& params = *association->params;
            report.ourMaxPdu =
                static_cast<std::uint32_t>(std::max(0L, params.ourMaxPDUReceiveSize));
            report.peerMaxPdu =
                static_cast<std::uint32_t>(std::max(0L, params.theirMaxPDUReceiveSize));
            report.peerImplementationClassUID = detail::OneLine(params.theirImplementationClassUID);
            report.peerImplementationVersionName =
                detail::OneLine(params.theirImplementationVersionName);
            ASC_setAPTitles(association->params, nullptr, nullptr, dul.calledAPTitle);
            if (ASC_acknowledgeAssociation(association).good()) {
                guard.SetEstablished(true);
                report.accepted = true;
                const std::size_t connection =
                    detail::OpenConnection(received.Internals(), report.peerAddress,
                                           report.callingAETitle, report.calledAETitle);
                ServeInstances(session, association, report, connection);
                guard.SetEstablished(!report.released && !report.abort);
            }
        }
        report.duration = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        if (report.accepted) detail::CloseConnection(received.Internals(), std::move(report));
    }
    {
        const std::lock_guard lock(mutex);
        session.finished = true;
    }
    changed.notify_all();
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake.Get(), &one, sizeof one);
}

// C-STORE and C-ECHO requests until the node releases or aborts the
// association, stays silent past a message timeout, sends an instance past
// the bound, or breaks the protocol.
void StorageReceiver::Impl::ServeInstances(Session& session, T_ASC_Association* association,
                                           AssociationReport& report, std::size_t connection) {
    ReceivedInstances::Impl& intake = received.Internals();
    std::string commandBuffer;
    std::string dataBuffer;
    for (;;) {
        const detail::CallerDeadline deadline(session.caller,
                                              std::chrono::seconds(settings.messageSeconds));
        detail::ResponseCommand command;
        T_ASC_PresentationContextID presID = 0;
        OFCondition cond =
            detail::ReceiveCommand(association, kMaxCommandBytes, commandBuffer, command, &presID);
        if (cond == DUL_PEERREQUESTEDRELEASE) {
            report.released = ASC_acknowledgeRelease(association).good();
            return;
        }
        if (cond == DUL_PEERABORTEDASSOCIATION) {
            report.abort = AssociationAbort{};
            return;
        }
        if (cond.bad() || !command.complete) return;
        if (command.commandField == DIMSE_C_ECHO_RQ) {
            T_DIMSE_C_EchoRQ echo{};
            echo.MessageID = command.messageID;
            OFStandard::strlcpy(echo.AffectedSOPClassUID, command.affectedSopClassUID.c_str(),
                                sizeof echo.AffectedSOPClassUID);
            echo.DataSetType = DIMSE_DATASET_NULL;
            if (DIMSE_sendEchoResponse(association, presID, &echo, STATUS_Success, nullptr).bad())
                return;
            continue;
        }
        if (command.commandField != DIMSE_C_STORE_RQ || !command.announcesDataSet) return;
        std::string_view bytes;
        E_TransferSyntax xfer = EXS_Unknown;
        cond = detail::ReceiveDataSetBytes(association, intake.settings.maxInstanceBytes,
                                           dataBuffer, bytes, xfer);
        if (cond.bad()) {
            detail::RefuseInstance(
                intake, command.affectedSopInstanceUID,
                "reçue incomplète, association interrompue : " + detail::OneLine(cond.text()));
            return;
        }
        T_ASC_PresentationContext context{};
        detail::StoreAnswer answer;
        if (ASC_findAcceptedPresentationContext(association->params, presID, &context).bad() ||
            command.affectedSopClassUID != context.abstractSyntax) {
            answer = {detail::kStoreSopClassNotSupported, "SOP Class not negotiated",
                      "classe SOP " + command.affectedSopClassUID +
                          " envoyée sur un contexte qui n'est pas le sien"};
            detail::RefuseInstance(intake, command.affectedSopInstanceUID, answer.why);
        } else {
            answer =
                detail::TakeInstance(intake, command, bytes, xfer,
                                     detail::OneLine(context.acceptedTransferSyntax), connection);
        }
        ++report.responses;
        if (detail::SendStoreResponse(association, presID, command, answer).bad()) return;
    }
}

StorageReceiver::StorageReceiver(ReceivedInstances received, StorageReceiverSettings settings)
    : impl_(std::make_unique<Impl>(std::move(received), std::move(settings))) {}

StorageReceiver::~StorageReceiver() { Stop(); }

void StorageReceiver::Listen(int port) {
    Stop();
    Impl& impl = *impl_;
    const std::string on = "Réception impossible sur le port " + std::to_string(port);
    if (port < 0 || port > 65535) throw Exception(ErrorClass::EDicomNetworkError, on);
    dcmDisableGethostbyaddr.set(OFTrue);
    if (impl.settings.tls.enabled) {
        try {
            impl.tls = std::make_unique<detail::TlsContext>(impl.settings.tls, TlsSide::Acceptor);
        } catch (const Exception& e) {
            throw Exception(ErrorClass::EDicomError, on + " : TLS : " + e.Message());
        }
    }
    impl.layer = std::make_unique<detail::WatchingLayer>(
        impl.watch, impl.count, impl.timeouts,
        detail::AcceptHooks{[&impl] { return impl.accepting ? &impl.accepting->caller : nullptr; },
                            [] {}},
        impl.tls.get());
    impl.wake.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    const OFCondition cond =
        ASC_initializeNetwork(NET_ACCEPTOR, port, impl.settings.associationSeconds, &impl.network);
    if (cond.bad() || !impl.wake.IsOpen())
        throw Exception(ErrorClass::EDicomNetworkError,
                        on + " : " + (cond.bad() ? detail::OneLine(cond.text()) : "eventfd"));
    ASC_setTransportLayer(impl.network, impl.layer.get(), 0);
    impl.listenSocket = DUL_networkSocket(impl.network->network);
    const int flags = ::fcntl(impl.listenSocket, F_GETFL);
    if (flags >= 0) ::fcntl(impl.listenSocket, F_SETFL, flags | O_NONBLOCK);
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    ::getsockname(impl.listenSocket, reinterpret_cast<sockaddr*>(&bound), &length);
    impl.port = ntohs(bound.sin_port);
    impl.stopping = false;
    impl.acceptThread = std::thread([&impl] { impl.AcceptLoop(); });
}

int StorageReceiver::Port() const { return impl_->port; }

void StorageReceiver::Stop() {
    Impl& impl = *impl_;
    if (!impl.acceptThread.joinable()) return;
    {
        std::unique_lock lock(impl.mutex);
        impl.changed.wait_for(lock, kDrainWait, [&] {
            for (const auto& session : impl.sessions)
                if (!session->finished) return false;
            return true;
        });
    }
    impl.stopping = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(impl.wake.Get(), &one, sizeof one);
    impl.watch.CutAll();
    ::shutdown(impl.listenSocket, SHUT_RDWR);
    impl.acceptThread.join();
    std::list<std::shared_ptr<Session>> sessions;
    {
        const std::lock_guard lock(impl.mutex);
        sessions.swap(impl.sessions);
    }
    for (auto& session : sessions)
        if (session->thread.joinable()) session->thread.join();
    ASC_dropNetwork(&impl.network);
    impl.network = nullptr;
    impl.layer.reset();
    impl.tls.reset();
    impl.port = 0;
}

}  // namespace lumo::dicom
