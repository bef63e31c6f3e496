#include "dicom/DicomViewer.h"

#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/dcmnet/dcmlayer.h>
#include <dcmtk/dcmnet/dcmtrans.h>
#include <dcmtk/dcmnet/dimse.h>
#include <dcmtk/dcmnet/dul.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <list>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

#include "dicom/ConnectionImpl.h"
#include "dicom/DcmConvert.h"
#include "support/FileDescriptor.h"

namespace lumo::dicom {

namespace {

// More callers than this at once wait in the listen queue until one leaves.
constexpr std::size_t kMaxAssociations = 64;
// How long a finished association waits for its caller to close first.
constexpr int kDropWaitSeconds = 5;

constexpr std::uint16_t kUnableToProcess = 0xC000;
constexpr std::uint16_t kSopClassNotSupported = 0x0122;

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

// The sockets of the associations in progress, so that stopping can cut them
// all at once: a caller that stays silent, or a handler's send, then fails at
// once instead of waiting for its timeout. Used by every listener thread.
class SocketWatch {
  public:
    void Add(int fd) {
        std::lock_guard lock(mutex_);
        if (closing_) ::shutdown(fd, SHUT_RDWR);
        fds_.insert(fd);
    }
    // Called before the socket is closed, so a cut never hits a reused number.
    void Remove(int fd) {
        std::lock_guard lock(mutex_);
        fds_.erase(fd);
    }
    void CutAll() {
        std::lock_guard lock(mutex_);
        closing_ = true;
        for (int fd : fds_) ::shutdown(fd, SHUT_RDWR);
    }

  private:
    std::mutex mutex_;
    std::set<int> fds_;
    bool closing_ = false;
};

// A plain TCP connection that registers its socket with the watch for as
// long as it is open. Owned by DCMTK's association; used by its thread.
class WatchedConnection final : public DcmTCPConnection {
  public:
    WatchedConnection(DcmNativeSocketType socket, SocketWatch& watch)
        : DcmTCPConnection(socket), watch_(watch), fd_(socket) {
        watch_.Add(fd_);
    }
    ~WatchedConnection() override { watch_.Remove(fd_); }
    WatchedConnection(const WatchedConnection&) = delete;
    WatchedConnection& operator=(const WatchedConnection&) = delete;

    void close() override {
        watch_.Remove(fd_);
        DcmTCPConnection::close();
    }
    void closeTransportConnection() override {
        watch_.Remove(fd_);
        DcmTCPConnection::closeTransportConnection();
    }

  private:
    SocketWatch& watch_;
    const int fd_;
};

// DCMTK's factory for accepted sockets: it is called right after accept(),
// before the caller's first byte is read, which tells the listener that the
// listen socket is free for the next caller. Owned by the listener; called
// on the thread of the association being accepted.
class WatchingLayer final : public DcmTransportLayer {
  public:
    WatchingLayer(SocketWatch& watch, std::function<void()> onAccepted)
        : watch_(watch), onAccepted_(std::move(onAccepted)) {}

    DcmTransportConnection* createConnection(DcmNativeSocketType socket,
                                             OFBool useSecureLayer) override {
        onAccepted_();
        if (useSecureLayer) return nullptr;
        return new WatchedConnection(socket, watch_);  // DCMTK's association owns it
    }

  private:
    SocketWatch& watch_;
    std::function<void()> onAccepted_;
};

// One association's thread and what stopping needs to know about it.
struct Session {
    std::thread thread;
    bool inInvoke = false;  // under Listener::mutex
    bool finished = false;  // under Listener::mutex
};

// What one ViewerListen starts: the DCMTK network with its listen socket,
// the accepting thread's wake-up and the association threads. Shared by the
// viewer and every thread it started, so a thread still waiting in the
// dispatcher when the viewer goes keeps what it uses alive.
struct Listener {
    Listener(Dispatcher& dispatcher, DicomViewer* viewer, std::shared_ptr<std::atomic<int>> counter,
             int associationTimeout, int messageTimeout)
        : dispatcher(dispatcher),
          counter(std::move(counter)),
          associationTimeout(associationTimeout),
          messageTimeout(messageTimeout),
          layer(watch, [this] { MarkAccepted(); }),
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
    void MarkAccepted() {
        {
            std::lock_guard lock(mutex);
            accepting = false;
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

    SocketWatch watch;
    WatchingLayer layer;
    T_ASC_Network* network = nullptr;  // dropped before the layer goes
    int listenSocket = -1;             // owned by the network
    const FileDescriptor wake;

    std::mutex mutex;
    std::condition_variable changed;
    bool stopping = false;                         // under mutex
    bool accepting = false;                        // under mutex: a session owns the listen socket
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

// Reads the identifier of a C-FIND request, raises OnQueryRequest and makes
// sure a final status goes out. False when the association is unusable.
bool ServeFind(Listener& listener, Session& session, T_ASC_Association* association,
               const std::shared_ptr<DicomConnection::Impl>& connection,
               T_ASC_PresentationContextID presentationContext, const T_DIMSE_C_FindRQ& request) {
    std::unique_ptr<DcmDataset> identifier;
    if (request.DataSetType != DIMSE_DATASET_NULL) {
        DcmDataset* received = nullptr;
        T_ASC_PresentationContextID dataContext = 0;
        const OFCondition cond =
            DIMSE_receiveDataSetInMemory(association, DIMSE_NONBLOCKING, listener.messageTimeout,
                                         &dataContext, &received, nullptr, nullptr);
        identifier.reset(received);
        if (cond.bad() || dataContext != presentationContext) return false;
    }

    std::string root = RootOf(request.AffectedSOPClassUID);
    const bool known = !root.empty();
    DicomDataSet requestData;
    bool readable = known;
    if (known && identifier) {
        try {
            requestData = detail::FromDcmItem(*identifier);
        } catch (...) {
            readable = false;  // e.g. an undecodable character set: the caller gets C000
        }
    }
    connection->BeginRequest(presentationContext, request, std::move(root), requestData);
    if (!readable) {
        return connection->FinishRequest(known ? kUnableToProcess : kSopClassNotSupported);
    }

    RaiseEvent(listener, session, [&](DicomViewer& viewer) {
        connection->LendRequest();
        const QueryRequestHandler handler = viewer.OnQueryRequest;
        if (handler) {
            DicomConnection lent(connection);
            try {
                handler(viewer, lent);
            } catch (...) {
                // A failing handler must not leave its caller waiting: C000 below.
            }
        }
        connection->FinishRequest(kUnableToProcess);
    });
    // The event may not have run at all (stopping); the caller still gets a status.
    return connection->FinishRequest(kUnableToProcess);
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
        const OFCondition cond =
            DIMSE_receiveCommand(association, DIMSE_NONBLOCKING, listener.messageTimeout,
                                 &presentationContext, &message, &statusDetail);
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
                break;  // every request is answered in full before the next is read
            default:
                return;  // nothing else was negotiated
        }
    }
}

// The life of one association, on its own thread.
void ServeAssociation(Listener& listener, Session& session) {
    T_ASC_Association* association = nullptr;
    const OFCondition received =
        ASC_receiveAssociation(listener.network, &association, ASC_DEFAULTMAXPDU, nullptr, nullptr,
                               OFFalse, DUL_NOBLOCK, listener.associationTimeout);
    listener.MarkAccepted();  // also when accept itself failed
    AssociationGuard guard(association);
    if (received.bad()) return;

    char context[128] = {};
    ASC_getApplicationContextName(association->params, context, sizeof context);
    if (std::strcmp(context, UID_StandardApplicationContext) != 0) {
        Reject(association, ASC_REASON_SU_APPCONTEXTNAMENOTSUPPORTED);
        return;
    }
    if (ASC_acceptContextsWithPreferredTransferSyntaxes(
            association->params, const_cast<const char**>(kAbstractSyntaxes),
            static_cast<int>(std::size(kAbstractSyntaxes)),
            const_cast<const char**>(kTransferSyntaxes),
            static_cast<int>(std::size(kTransferSyntaxes)))
            .bad()) {
        Reject(association, ASC_REASON_SU_NOREASON);
        return;
    }
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
        const nfds_t count = active < kMaxAssociations ? 2 : 1;
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
            listener->accepting = true;
            try {
                session->thread = std::thread(RunSession, listener, session);
            } catch (const std::system_error&) {
                listener->accepting = false;
                continue;  // out of threads: the caller waits in the queue
            }
            listener->sessions.push_back(session);
            listener->changed.wait(lock,
                                   [&] { return !listener->accepting || listener->stopping; });
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

bool DicomViewer::ViewerListen(int port) {
    impl_->Stop();
    if (port < 0 || port > 65535) return false;

    // The listener never needs the caller's host name, and a reverse lookup
    // can stall an accept.
    dcmDisableGethostbyaddr.set(OFTrue);

    auto listener = std::make_shared<Listener>(impl_->dispatcher, this, impl_->counter,
                                               impl_->associationTimeout, impl_->messageTimeout);
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
