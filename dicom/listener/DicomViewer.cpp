#include "dicom/listener/DicomViewer.h"

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/dcmnet/dimse.h>
#include <dcmtk/dcmnet/dul.h>
#include <dcmtk/oflog/oflog.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <list>
#include <mutex>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include "dicom/data/detail/ReceivedRules.h"
#include "dicom/listener/detail/DicomConnectionState.h"
#include "dicom/listener/detail/ListenerIdentifier.h"
#include "dicom/listener/detail/ListenerTransport.h"
#include "dicom/net/detail/TlsContext.h"
#include "support/FileDescriptor.h"

namespace lumo::dicom {

namespace {

using detail::CallerState;
using detail::IdentifierReading;

// Callers being refused at once, beyond the associations admitted; more wait
// in the listen queue until one leaves.
constexpr int kRefusalsAtOnce = 32;
// How long a finished association waits for its caller to close first.
constexpr int kDropWaitSeconds = 5;

constexpr std::uint16_t kUnableToProcess = 0xC000;
constexpr std::uint16_t kCancel = 0xFE00;
constexpr std::uint16_t kSopClassNotSupported = 0x0122;
// "Identifier does not match SOP Class" rather than C000: the caller's
// identifier is at fault, not this node, and the same request would fail
// again; the comment says what to change.
constexpr std::uint16_t kIdentifierDoesNotMatch = 0xA900;
const std::string kTooDeepComment = "Sequences in the identifier nest deeper than " +
                                    std::to_string(detail::kMaxNesting) + " levels";

// Where the listener says why it dropped a caller: DCMTK's own logging, as
// dicom/ has no other.
OFLogger& ListenerLog() {
    static OFLogger logger = OFLog::getLogger("lumo.dicom.listener");
    return logger;
}

const char* const kAbstractSyntaxes[] = {
    UID_VerificationSOPClass,
    UID_FINDModalityWorklistInformationModel,
    UID_FINDPatientRootQueryRetrieveInformationModel,
    UID_FINDStudyRootQueryRetrieveInformationModel,
};

const char* const kTransferSyntaxes[] = {
    UID_LittleEndianExplicitTransferSyntax,
    UID_BigEndianExplicitTransferSyntax,
    UID_LittleEndianImplicitTransferSyntax,
};

std::string RootOf(const char* sopClass) {
    if (std::strcmp(sopClass, UID_FINDModalityWorklistInformationModel) == 0) return "WORKLIST";
    if (std::strcmp(sopClass, UID_FINDPatientRootQueryRetrieveInformationModel) == 0) {
        return "PATIENT";
    }
    if (std::strcmp(sopClass, UID_FINDStudyRootQueryRetrieveInformationModel) == 0) return "STUDY";
    return {};
}

// One association's thread and what stopping needs to know about it.
struct Session {
    std::thread thread;
    bool inInvoke = false;  // under Listener::mutex
    bool finished = false;  // under Listener::mutex
    CallerState caller;     // the association's thread only
};

// What one ViewerListen starts: the DCMTK network with its listen socket,
// the TLS context its callers' connections share when it speaks TLS, the
// accepting thread's wake-up and the association threads. Shared by the
// viewer and every thread it started, so a thread still waiting in the
// dispatcher when the viewer goes keeps what it uses alive.
struct Listener {
    Listener(Dispatcher& dispatcher, DicomViewer* viewer, std::shared_ptr<std::atomic<int>> counter,
             int associationTimeout, int messageTimeout, const ViewerLimits& limits,
             std::unique_ptr<detail::TlsContext> tlsContext)
        : dispatcher(dispatcher),
          counter(std::move(counter)),
          associationTimeout(associationTimeout),
          messageTimeout(messageTimeout),
          limits(limits),
          count(limits.maxAssociations, limits.maxAssociationsPerAddress),
          tls(std::move(tlsContext)),
          layer(watch, count, std::chrono::seconds(associationTimeout),
                {[this] { return AcceptingCaller(); }, [this] { EndAccepting(); }}, tls.get()),
          wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
          viewer_(viewer) {}

    ~Listener() {
        if (network != nullptr) ASC_dropNetwork(&network);
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    void Wake() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wake.Get(), &one, sizeof one);
    }
    void DrainWake() const {
        std::uint64_t count = 0;
        [[maybe_unused]] ssize_t n = ::read(wake.Get(), &count, sizeof count);
    }
    // The caller of the session whose thread is accepting.
    CallerState* AcceptingCaller() {
        std::lock_guard lock(mutex);
        return accepting != nullptr ? &accepting->caller : nullptr;
    }
    // That session has its caller: the listen socket is free for the next.
    void EndAccepting() {
        {
            std::lock_guard lock(mutex);
            accepting = nullptr;
        }
        changed.notify_all();
    }
    // `session` is done accepting, whether it got a caller or not.
    void MarkAccepted(const Session& session) {
        {
            std::lock_guard lock(mutex);
            if (accepting == &session) accepting = nullptr;
        }
        changed.notify_all();
    }
    // The viewer to raise events on, or null once it stopped.
    DicomViewer* Viewer() {
        std::lock_guard lock(mutex);
        return stopping ? nullptr : viewer_;
    }
    void BeginStop() {
        {
            std::lock_guard lock(mutex);
            stopping = true;
            viewer_ = nullptr;
        }
        changed.notify_all();
        Wake();
        watch.CutAll();
        // Wakes an accept that found the waiting caller gone.
        ::shutdown(listenSocket, SHUT_RDWR);
    }

    Dispatcher& dispatcher;
    const std::shared_ptr<std::atomic<int>> counter;
    const int associationTimeout;
    const int messageTimeout;
    const ViewerLimits limits;

    detail::SocketWatch watch;
    detail::AssociationCount count;
    const std::unique_ptr<detail::TlsContext> tls;  // null: plain TCP
    detail::WatchingLayer layer;
    T_ASC_Network* network = nullptr;  // dropped before the layer goes
    int listenSocket = -1;             // owned by the network
    const FileDescriptor wake;

    std::mutex mutex;
    std::condition_variable changed;
    bool stopping = false;                         // under mutex
    Session* accepting = nullptr;                  // under mutex: owns the listen socket
    std::list<std::shared_ptr<Session>> sessions;  // under mutex

  private:
    DicomViewer* viewer_;  // under mutex
};

// Frees one association on every path, in DCMTK's order: the connection
// handle learns first that the association is gone, then the association is
// aborted when still established, dropped and destroyed.
class AssociationGuard {
  public:
    explicit AssociationGuard(T_ASC_Association*& association) : association_(association) {}
    ~AssociationGuard() {
        if (connection_) connection_->EndAssociation();
        if (association_ == nullptr) return;
        if (established_) ASC_abortAssociation(association_);
        ASC_dropSCPAssociation(association_, kDropWaitSeconds);
        ASC_destroyAssociation(&association_);
    }
    AssociationGuard(const AssociationGuard&) = delete;
    AssociationGuard& operator=(const AssociationGuard&) = delete;

    void SetConnection(std::shared_ptr<DicomConnection::Impl> connection) {
        connection_ = std::move(connection);
    }
    void SetEstablished(bool established) { established_ = established; }

  private:
    T_ASC_Association*& association_;
    std::shared_ptr<DicomConnection::Impl> connection_;
    bool established_ = false;
};

// Runs `body` with the viewer on the dispatcher's thread while this thread
// waits. False when the viewer stopped or the dispatcher refused the work.
bool RaiseEvent(Listener& listener, Session& session,
                const std::function<void(DicomViewer&)>& body) {
    {
        std::lock_guard lock(listener.mutex);
        if (listener.stopping) return false;
        session.inInvoke = true;
    }
    bool raised = false;
    try {
        listener.dispatcher.Invoke([&] {
            DicomViewer* viewer = listener.Viewer();
            if (viewer == nullptr) return;
            raised = true;
            body(*viewer);
        });
    } catch (...) {
        raised = false;
    }
    std::lock_guard lock(listener.mutex);
    session.inInvoke = false;
    return raised;
}

void Reject(T_ASC_Association* association, T_ASC_RejectParametersReason reason) {
    T_ASC_RejectParameters reject{ASC_RESULT_REJECTEDPERMANENT, ASC_SOURCE_SERVICEUSER, reason};
    ASC_rejectAssociation(association, &reject);
}

// A caller beyond the limits may try again once others have left.
void Refuse(T_ASC_Association* association, const CallerState& caller) {
    OFLOG_WARN(ListenerLog(),
               "Association from " << caller.address << " refused: " << caller.refusal);
    T_ASC_RejectParameters reject{ASC_RESULT_REJECTEDTRANSIENT,
                                  ASC_SOURCE_SERVICEPROVIDER_PRESENTATION_RELATED,
                                  ASC_REASON_SP_PRES_LOCALLIMITEXCEEDED};
    ASC_rejectAssociation(association, &reject);
}

bool IsBlank(const char* title) {
    return std::string_view(title).find_first_not_of(' ') == std::string_view::npos;
}

// Checks an association request before the form sees it; rejects it (and
// answers false) when this listener cannot take it.
bool Acceptable(T_ASC_Association* association, const CallerState& caller) {
    char context[128] = {};
    ASC_getApplicationContextName(association->params, context, sizeof context);
    if (std::strcmp(context, UID_StandardApplicationContext) != 0) {
        Reject(association, ASC_REASON_SU_APPCONTEXTNAMENOTSUPPORTED);
        return false;
    }
    // No caller is known by a blank title, and DCMTK cannot build an answer
    // that carries one (it leaks what it built on the way).
    const DUL_ASSOCIATESERVICEPARAMETERS& dul = association->params->DULparams;
    const bool blankCalling = IsBlank(dul.callingAPTitle);
    if (blankCalling || IsBlank(dul.calledAPTitle)) {
        OFLOG_WARN(ListenerLog(), "Association from " << caller.address << " rejected: blank "
                                                      << (blankCalling ? "calling" : "called")
                                                      << " AE title");
        Reject(association, blankCalling ? ASC_REASON_SU_CALLINGAETITLENOTRECOGNIZED
                                         : ASC_REASON_SU_CALLEDAETITLENOTRECOGNIZED);
        return false;
    }
    if (ASC_acceptContextsWithPreferredTransferSyntaxes(
            association->params, const_cast<const char**>(kAbstractSyntaxes),
            static_cast<int>(std::size(kAbstractSyntaxes)),
            const_cast<const char**>(kTransferSyntaxes),
            static_cast<int>(std::size(kTransferSyntaxes)))
            .bad()) {
        Reject(association, ASC_REASON_SU_NOREASON);
        return false;
    }
    return true;
}

// The identifier that follows a C-FIND request, gathered within one message
// timeout and read into `out`. nullopt when the association is to be
// aborted: broken, sent on another presentation context, or larger than the
// bound (the rest is then left unread).
std::optional<IdentifierReading> ReceiveIdentifier(Listener& listener, Session& session,
                                                   T_ASC_Association* association,
                                                   T_ASC_PresentationContextID presentationContext,
                                                   DicomDataSet& out) {
    detail::GatheredIdentifier gathered;
    OFCondition failure;
    detail::Gathering gathering = detail::Gathering::Failed;
    {
        const detail::CallerDeadline deadline(session.caller,
                                              std::chrono::seconds(listener.messageTimeout));
        gathering = detail::GatherIdentifier(detail::PdvsOf(association, listener.messageTimeout),
                                             detail::SyntaxesOf(association),
                                             listener.limits.maxIdentifierBytes, gathered, failure);
    }
    if (gathering == detail::Gathering::TooLarge) {
        OFLOG_WARN(ListenerLog(), "Association from " << session.caller.address
                                                      << " aborted: its identifier is larger than "
                                                      << listener.limits.maxIdentifierBytes
                                                      << " bytes");
        return std::nullopt;
    }
    if (gathering != detail::Gathering::Complete) return std::nullopt;
    if (gathered.presentationContext != presentationContext) return std::nullopt;
    const IdentifierReading reading = detail::ReadIdentifier(gathered, out);
    if (reading == IdentifierReading::Broken) return std::nullopt;
    return reading;
}

// Reads the identifier of a C-FIND request, raises OnQueryRequest and makes
// sure a final status goes out. False when the association is unusable.
bool ServeFind(Listener& listener, Session& session, T_ASC_Association* association,
               const std::shared_ptr<DicomConnection::Impl>& connection,
               T_ASC_PresentationContextID presentationContext, const T_DIMSE_C_FindRQ& request) {
    DicomDataSet identifier;
    IdentifierReading reading = IdentifierReading::Read;  // none: an empty one
    if (request.DataSetType != DIMSE_DATASET_NULL) {
        const std::optional<IdentifierReading> received =
            ReceiveIdentifier(listener, session, association, presentationContext, identifier);
        if (!received) return false;
        reading = *received;
    }

    std::string root = RootOf(request.AffectedSOPClassUID);
    const bool known = !root.empty();
    const bool read = known && reading == IdentifierReading::Read;
    connection->BeginRequest(presentationContext, request, std::move(root),
                             read ? identifier : DicomDataSet());
    if (!known) return connection->FinishRequest(kSopClassNotSupported);
    if (reading == IdentifierReading::TooDeep) {
        OFLOG_WARN(ListenerLog(), "Connection " << connection->number << " from "
                                                << session.caller.address << ": "
                                                << kTooDeepComment);
        return connection->FinishRequest(kIdentifierDoesNotMatch, kTooDeepComment);
    }
    // e.g. an undecodable character set: the caller gets C000
    if (!read) return connection->FinishRequest(kUnableToProcess);

    // A failing handler, or one that sends nothing, must not leave its
    // caller waiting: C000, or Cancel for a caller that cancelled.
    const auto lastStatus = [&connection] {
        return connection->Cancelled() ? kCancel : kUnableToProcess;
    };
    {
        // Hears a cancel (or the caller's end) while this thread only waits.
        const detail::CallerWatch watch(
            session.caller.socket, session.caller.peekable,
            [&connection](detail::CallerSpeech speech) {
                connection->CallerSpoke(speech == detail::CallerSpeech::End);
            });
        RaiseEvent(listener, session, [&](DicomViewer& viewer) {
            connection->LendRequest();
            const QueryRequestHandler handler = viewer.OnQueryRequest;
            if (handler) {
                DicomConnection lent(connection);
                try {
                    handler(viewer, lent);
                } catch (...) {
                    // The status below.
                }
            }
            connection->FinishRequest(lastStatus());
        });
    }
    // The event may not have run at all (stopping); the caller still gets a status.
    return connection->FinishRequest(lastStatus());
}

// The messages of an established association, until it is released, aborted,
// silent for too long or broken.
void ServeRequests(Listener& listener, Session& session, T_ASC_Association* association,
                   const std::shared_ptr<DicomConnection::Impl>& connection,
                   AssociationGuard& guard) {
    for (;;) {
        T_DIMSE_Message message{};
        T_ASC_PresentationContextID presentationContext = 0;
        DcmDataset* statusDetail = nullptr;
        OFCondition cond = EC_Normal;
        {
            const detail::CallerDeadline deadline(session.caller,
                                                  std::chrono::seconds(listener.messageTimeout));
            cond = DIMSE_receiveCommand(association, DIMSE_NONBLOCKING, listener.messageTimeout,
                                        &presentationContext, &message, &statusDetail);
        }
        const std::unique_ptr<DcmDataset> ownedDetail(statusDetail);
        if (cond == DUL_PEERREQUESTEDRELEASE) {
            ASC_acknowledgeRelease(association);
            guard.SetEstablished(false);
            return;
        }
        if (cond == DUL_PEERABORTEDASSOCIATION) {
            guard.SetEstablished(false);
            return;
        }
        if (cond.bad()) return;  // silent, broken or hostile: aborted by the guard

        switch (message.CommandField) {
            case DIMSE_C_ECHO_RQ:
                if (DIMSE_sendEchoResponse(association, presentationContext, &message.msg.CEchoRQ,
                                           STATUS_Success, nullptr)
                        .bad()) {
                    return;
                }
                break;
            case DIMSE_C_FIND_RQ:
                if (!ServeFind(listener, session, association, connection, presentationContext,
                               message.msg.CFindRQ)) {
                    return;
                }
                break;
            case DIMSE_C_CANCEL_RQ:
                // Heard while its request was with the form, or come after
                // the final status: that request is over, nothing to answer.
                break;
            default:
                return;  // nothing else was negotiated
        }
    }
}

// The life of one association, on its own thread.
void ServeAssociation(Listener& listener, Session& session) {
    T_ASC_Association* association = nullptr;
    const OFCondition received = ASC_receiveAssociation(
        listener.network, &association, ASC_DEFAULTMAXPDU, nullptr, nullptr,
        listener.tls ? OFTrue : OFFalse, DUL_NOBLOCK, listener.associationTimeout);
    listener.MarkAccepted(session);  // also when accept itself failed
    AssociationGuard guard(association);
    if (received.bad()) return;
    if (!session.caller.admitted) {
        Refuse(association, session.caller);
        return;
    }
    session.caller.until.reset();  // the request came whole in time
    if (!Acceptable(association, session.caller)) return;

    const DUL_ASSOCIATESERVICEPARAMETERS& dul = association->params->DULparams;
    ASC_setAPTitles(association->params, nullptr, nullptr, dul.calledAPTitle);

    const int number = ++*listener.counter;
    auto connection = std::make_shared<DicomConnection::Impl>(number, dul.callingAPTitle,
                                                              dul.calledAPTitle, association);
    guard.SetConnection(connection);

    bool isOK = true;
    const bool raised = RaiseEvent(listener, session, [&](DicomViewer& viewer) {
        const AssociationRequestHandler handler = viewer.OnAssociationRequest2;
        if (!handler) return;
        DicomConnection lent(connection);
        try {
            handler(viewer, lent, isOK);
        } catch (...) {
            isOK = false;  // a handler that cannot decide does not let the caller in
        }
    });
    if (!raised || !isOK) {
        Reject(association, ASC_REASON_SU_NOREASON);
        return;
    }
    if (ASC_acknowledgeAssociation(association).bad()) return;
    guard.SetEstablished(true);
    ServeRequests(listener, session, association, connection, guard);
}

void RunSession(std::shared_ptr<Listener> listener, std::shared_ptr<Session> session) {
    try {
        ServeAssociation(*listener, *session);
    } catch (...) {
        // Nothing may leave a thread; the association was freed on the way out.
    }
    {
        std::lock_guard lock(listener->mutex);
        session->finished = true;
    }
    listener->changed.notify_all();
    listener->Wake();
}

void JoinFinished(Listener& listener) {
    std::list<std::shared_ptr<Session>> done;
    {
        std::lock_guard lock(listener.mutex);
        for (auto it = listener.sessions.begin(); it != listener.sessions.end();) {
            auto next = std::next(it);
            if ((*it)->finished) done.splice(done.end(), listener.sessions, it);
            it = next;
        }
    }
    for (auto& session : done) {
        if (session->thread.joinable()) session->thread.join();
    }
}

// Waits for callers and gives each its own thread. It never reads from a
// caller itself, so a silent caller cannot hold up the next one.
void AcceptLoop(std::shared_ptr<Listener> listener) {
    for (;;) {
        JoinFinished(*listener);
        std::size_t active = 0;
        {
            std::lock_guard lock(listener->mutex);
            if (listener->stopping) return;
            active = listener->sessions.size();
        }
        pollfd fds[2] = {{listener->wake.Get(), POLLIN, 0}, {listener->listenSocket, POLLIN, 0}};
        const std::size_t most =
            static_cast<std::size_t>(listener->limits.maxAssociations + kRefusalsAtOnce);
        const nfds_t count = active < most ? 2 : 1;
        if (::poll(fds, count, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents != 0) listener->DrainWake();
        if (count < 2 || fds[1].revents == 0) continue;

        auto session = std::make_shared<Session>();
        {
            std::unique_lock lock(listener->mutex);
            if (listener->stopping) return;
            listener->accepting = session.get();
            try {
                session->thread = std::thread(RunSession, listener, session);
            } catch (const std::system_error&) {
                listener->accepting = nullptr;
                continue;  // out of threads: the caller waits in the queue
            }
            listener->sessions.push_back(session);
            listener->changed.wait(
                lock, [&] { return listener->accepting == nullptr || listener->stopping; });
        }
    }
}

}  // namespace

// ---------------------------------------------------------------------------

struct DicomViewer::Impl {
    explicit Impl(Dispatcher& dispatcher) : dispatcher(dispatcher) {}

    void Stop();

    Dispatcher& dispatcher;
    // Associations are numbered from the viewer's start, across restarts.
    const std::shared_ptr<std::atomic<int>> counter = std::make_shared<std::atomic<int>>(0);
    int associationTimeout = 30;
    int messageTimeout = 60;
    ViewerLimits limits;
    DicomTls tls;

    std::shared_ptr<Listener> listener;
    std::thread acceptThread;
    std::thread::id formThread;
    int port = 0;
};

void DicomViewer::Impl::Stop() {
    std::shared_ptr<Listener> stopping = std::move(listener);
    if (!stopping) return;
    stopping->BeginStop();
    if (acceptThread.joinable()) acceptThread.join();

    std::list<std::shared_ptr<Session>> sessions;
    {
        std::lock_guard lock(stopping->mutex);
        sessions.swap(stopping->sessions);
    }
    // A thread waiting for the form's thread cannot finish while the form's
    // thread waits here: let it go; its event finds the viewer gone and it
    // ends on its own, keeping the listener's state alive until then.
    const bool onFormThread = std::this_thread::get_id() == formThread;
    for (auto& session : sessions) {
        bool waitingForForm = false;
        {
            std::lock_guard lock(stopping->mutex);
            waitingForForm = session->inInvoke;
        }
        if (!session->thread.joinable()) continue;
        if (onFormThread && waitingForForm) {
            session->thread.detach();
        } else {
            session->thread.join();
        }
    }
    port = 0;
}

DicomViewer::DicomViewer(Dispatcher& dispatcher) : impl_(std::make_unique<Impl>(dispatcher)) {}

DicomViewer::~DicomViewer() { impl_->Stop(); }

void DicomViewer::SetTimeouts(int associationSeconds, int messageSeconds) {
    if (associationSeconds > 0) impl_->associationTimeout = associationSeconds;
    if (messageSeconds > 0) impl_->messageTimeout = messageSeconds;
}

void DicomViewer::SetLimits(const ViewerLimits& limits) {
    const ViewerLimits defaults;
    const auto chosen = [](auto value, auto fallback) { return value > 0 ? value : fallback; };
    impl_->limits = {
        chosen(limits.maxAssociations, defaults.maxAssociations),
        chosen(limits.maxAssociationsPerAddress, defaults.maxAssociationsPerAddress),
        chosen(limits.maxIdentifierBytes, defaults.maxIdentifierBytes),
    };
}

void DicomViewer::SetTls(const DicomTls& tls) { impl_->tls = tls; }

bool DicomViewer::ViewerListen(int port) {
    impl_->Stop();
    if (port < 0 || port > 65535) return false;

    // The listener never needs the caller's host name, and a reverse lookup
    // can stall an accept.
    dcmDisableGethostbyaddr.set(OFTrue);

    std::unique_ptr<detail::TlsContext> tls;
    if (impl_->tls.enabled) {
        try {
            tls = std::make_unique<detail::TlsContext>(impl_->tls, TlsSide::Acceptor);
        } catch (const std::exception&) {
            return false;
        }
    }
    auto listener = std::make_shared<Listener>(impl_->dispatcher, this, impl_->counter,
                                               impl_->associationTimeout, impl_->messageTimeout,
                                               impl_->limits, std::move(tls));
    if (!listener->wake.IsOpen()) return false;
    if (ASC_initializeNetwork(NET_ACCEPTOR, port, impl_->associationTimeout, &listener->network)
            .bad()) {
        return false;
    }
    if (ASC_setTransportLayer(listener->network, &listener->layer, 0).bad()) return false;
    listener->listenSocket = DUL_networkSocket(listener->network->network);
    if (listener->listenSocket < 0) return false;
    // Accept must not block when a caller gave up between poll and accept.
    const int flags = ::fcntl(listener->listenSocket, F_GETFL);
    if (flags < 0 || ::fcntl(listener->listenSocket, F_SETFL, flags | O_NONBLOCK) < 0) {
        return false;
    }
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    if (::getsockname(listener->listenSocket, reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
        return false;
    }

    try {
        impl_->acceptThread = std::thread(AcceptLoop, listener);
    } catch (const std::system_error&) {
        return false;
    }
    impl_->listener = std::move(listener);
    impl_->formThread = std::this_thread::get_id();
    impl_->port = ntohs(bound.sin_port);
    return true;
}

int DicomViewer::ListeningPort() const { return impl_->port; }

void DicomViewer::ViewerStop() { impl_->Stop(); }

}  // namespace lumo::dicom
