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

// One event on its way to the form's thread. The association's thread (or
// its request's) waits for it; stopping lets go of an event still queued,
// whose task then finds it abandoned and touches nothing else, however late
// the dispatcher runs it. Shared by the waiting thread and the queued task.
class EventCall {
  public:
    // On the form's thread: false when the call was abandoned.
    bool Start() {
        std::lock_guard lock(mutex_);
        if (state_ != State::Queued) return false;
        state_ = State::Running;
        runner_ = std::this_thread::get_id();
        return true;
    }
    void Finish(bool raised) {
        {
            std::lock_guard lock(mutex_);
            state_ = State::Done;
            raised_ = raised;
        }
        changed_.notify_all();
    }
    // Lets go of the call unless it is running already; any thread.
    void Abandon() {
        {
            std::lock_guard lock(mutex_);
            if (state_ == State::Queued) state_ = State::Abandoned;
        }
        changed_.notify_all();
    }
    // Waits until it ran or was let go; whether its body ran.
    bool Wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return state_ == State::Done || state_ == State::Abandoned; });
        return raised_;
    }
    bool RunningOn(std::thread::id thread) {
        std::lock_guard lock(mutex_);
        return state_ == State::Running && runner_ == thread;
    }

  private:
    enum class State { Queued, Running, Done, Abandoned };
    std::mutex mutex_;
    std::condition_variable changed_;
    State state_ = State::Queued;
    std::thread::id runner_;
    bool raised_ = false;
};

// One association's thread and what stopping needs to know about it.
struct Session {
    std::thread thread;
    std::shared_ptr<EventCall> event;  // under Listener::mutex: the event raised, if any
    bool finished = false;             // under Listener::mutex
    CallerState caller;                // the association's thread only
};

// What one ViewerListen starts: the DCMTK network with its listen socket,
// the TLS context its callers' connections share when it speaks TLS, the
// accepting thread's wake-up and the association threads. Shared by the
// viewer and every thread it started.
struct Listener {
    Listener(Dispatcher& dispatcher, DicomViewer* viewer, std::shared_ptr<std::atomic<int>> counter,
             const ViewerLimits& limits, std::unique_ptr<detail::TlsContext> tlsContext)
        : dispatcher(dispatcher),
          counter(std::move(counter)),
          count(limits.maxAssociations, limits.maxAssociationsPerAddress),
          tls(std::move(tlsContext)),
          layer(watch, count, timeouts,
                {[this] { return AcceptingCaller(); }, [this] { EndAccepting(); }}, tls.get()),
          wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
          viewer_(viewer) {
        SetLimits(limits);
    }

    ~Listener() {
        if (network != nullptr) ASC_dropNetwork(&network);
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    void SetLimits(const ViewerLimits& limits) {
        count.SetLimits(limits.maxAssociations, limits.maxAssociationsPerAddress);
        maxAssociations = limits.maxAssociations;
        maxIdentifierBytes = limits.maxIdentifierBytes;
    }
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
            // An event still queued for the form's thread is let go: its
            // thread goes on and ends, so that stopping can wait for it.
            for (const auto& session : sessions)
                if (session->event) session->event->Abandon();
        }
        changed.notify_all();
        Wake();
        watch.CutAll();
        // Wakes an accept that found the waiting caller gone.
        ::shutdown(listenSocket, SHUT_RDWR);
    }

    Dispatcher& dispatcher;
    const std::shared_ptr<std::atomic<int>> counter;
    detail::CallerTimeouts timeouts;
    std::atomic<int> maxAssociations{0};
    std::atomic<std::size_t> maxIdentifierBytes{0};

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
// aborted when still established, dropped and destroyed. DCMTK waits for
// the caller to close after an abort; a caller that never does (one cut off
// for taking nothing) is waited for no longer than after a release.
class AssociationGuard {
  public:
    AssociationGuard(T_ASC_Association*& association, CallerState& caller)
        : association_(association), caller_(caller) {}
    ~AssociationGuard() {
        if (connection_) connection_->EndAssociation();
        if (association_ == nullptr) return;
        caller_.until = std::chrono::steady_clock::now() + std::chrono::seconds(kDropWaitSeconds);
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
    CallerState& caller_;
    std::shared_ptr<DicomConnection::Impl> connection_;
    bool established_ = false;
};

// Runs `body` with the viewer on the dispatcher's thread while this thread
// waits. False when the viewer stopped (before or while the event waited
// for the form's thread) or the dispatcher refused the work.
bool RaiseEvent(Listener& listener, Session& session,
                const std::function<void(DicomViewer&)>& body) {
    auto call = std::make_shared<EventCall>();
    {
        std::lock_guard lock(listener.mutex);
        if (listener.stopping) return false;
        session.event = call;
    }
    // What the task refers to is alive for as long as it runs: this thread
    // waits for it then. Abandoned, it touches nothing but the call.
    const auto task = [call, &listener, &body] {
        if (!call->Start()) return;
        DicomViewer* viewer = listener.Viewer();
        if (viewer != nullptr) {
            try {
                body(*viewer);
            } catch (...) {
                // Handlers catch their own; nothing may reach the dispatcher.
            }
        }
        call->Finish(viewer != nullptr);
    };
    bool posted = false;
    try {
        posted = listener.dispatcher.Post(task);
    } catch (...) {
        posted = false;
    }
    const bool raised = posted && call->Wait();
    std::lock_guard lock(listener.mutex);
    session.event.reset();
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
// timeout. nullopt when the association is to be aborted: broken, sent on
// another presentation context, or larger than the bound (the rest is then
// left unread).
std::optional<detail::GatheredIdentifier> GatherRequestIdentifier(
    Listener& listener, Session& session, T_ASC_Association* association,
    T_ASC_PresentationContextID presentationContext) {
    detail::GatheredIdentifier gathered;
    OFCondition failure;
    detail::Gathering gathering = detail::Gathering::Failed;
    const int seconds = listener.timeouts.message;
    const std::size_t most = listener.maxIdentifierBytes;
    {
        const detail::CallerDeadline deadline(session.caller, std::chrono::seconds(seconds));
        gathering =
            detail::GatherIdentifier(detail::PdvsOf(association, seconds),
                                     detail::SyntaxesOf(association), most, gathered, failure);
    }
    if (gathering == detail::Gathering::TooLarge) {
        OFLOG_WARN(ListenerLog(), "Association from " << session.caller.address
                                                      << " aborted: its identifier is larger than "
                                                      << most << " bytes");
        return std::nullopt;
    }
    if (gathering != detail::Gathering::Complete) return std::nullopt;
    if (gathered.presentationContext != presentationContext) return std::nullopt;
    return gathered;
}

// The same, read into `out`.
std::optional<IdentifierReading> ReceiveIdentifier(Listener& listener, Session& session,
                                                   T_ASC_Association* association,
                                                   T_ASC_PresentationContextID presentationContext,
                                                   DicomDataSet& out) {
    const std::optional<detail::GatheredIdentifier> gathered =
        GatherRequestIdentifier(listener, session, association, presentationContext);
    if (!gathered) return std::nullopt;
    const IdentifierReading reading = detail::ReadIdentifier(*gathered, out);
    if (reading == IdentifierReading::Broken) return std::nullopt;
    return reading;
}

// What became of the association while a request was answered.
enum class AfterRequest {
    Serve,    // it goes on: the next message
    Release,  // the caller asked to release it
    Aborted,  // the caller aborted it
    End,      // it is over (broken, cut, or to be aborted)
};

// Runs a request's answer (the handler's event, then what the handler left
// to be done off the form's thread) on a thread of its own, so that the
// association's thread can read what the caller says meanwhile; the
// destructor waits for it. Without a thread to be had it runs in place, and
// the caller is not heard until it is over.
class RequestWorker {
  public:
    explicit RequestWorker(std::function<void()> answer)
        : done_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
        auto run = [this, answer = std::move(answer)] {
            answer();
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t n = ::write(done_.Get(), &one, sizeof one);
        };
        if (done_.IsOpen()) {
            try {
                thread_ = std::thread(run);
                return;
            } catch (const std::system_error&) {
                // Out of threads: below.
            }
        }
        run();
        ended_ = true;
    }
    ~RequestWorker() {
        if (thread_.joinable()) thread_.join();
    }
    RequestWorker(const RequestWorker&) = delete;
    RequestWorker& operator=(const RequestWorker&) = delete;

    // Readable once the answer is over; -1 when it ran in place.
    int DoneFd() const { return ended_ ? -1 : done_.Get(); }
    bool Ended() const { return ended_; }

  private:
    FileDescriptor done_;
    std::thread thread_;
    bool ended_ = false;
};

// The caller's next command, within the message timeout for the whole of it.
OFCondition ReceiveCommand(Listener& listener, Session& session, T_ASC_Association* association,
                           T_ASC_PresentationContextID& presentationContext,
                           T_DIMSE_Message& message, DcmDataset*& statusDetail) {
    const int seconds = listener.timeouts.message;
    const detail::CallerDeadline deadline(session.caller, std::chrono::seconds(seconds));
    return DIMSE_receiveCommand(association, DIMSE_NONBLOCKING, seconds, &presentationContext,
                                &message, &statusDetail);
}

// Reads what the caller says while its request is answered, until the
// answer is over: a C-CANCEL-RQ (for the request's message ID only) stops
// it; a second C-FIND-RQ is refused (A700) and the first goes on; a release
// request, an abort, anything else, a broken or silent connection end the
// association, and stop the answer too. The association's thread only:
// DCMTK's reading stays on it, while the answer writes beside it.
AfterRequest HearCaller(Listener& listener, Session& session, T_ASC_Association* association,
                        const std::shared_ptr<DicomConnection::Impl>& connection,
                        const RequestWorker& worker) {
    if (worker.Ended()) return AfterRequest::Serve;
    for (;;) {
        if (!ASC_dataWaiting(association, 0)) {
            pollfd fds[2] = {{worker.DoneFd(), POLLIN, 0},
                             {session.caller.socket, POLLIN | POLLRDHUP, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                connection->CallerEnded();
                return AfterRequest::End;
            }
            if (fds[0].revents != 0) return AfterRequest::Serve;
            if (fds[1].revents == 0) continue;
        }
        if (connection->Answered()) {
            // The final status is out and the caller has moved on (its next
            // C-FIND, a late cancel, a release): that is for the association's
            // loop to read once the answer's thread is done.
            pollfd done{worker.DoneFd(), POLLIN, 0};
            while (!worker.Ended() && ::poll(&done, 1, -1) < 0 && errno == EINTR) {
            }
            return AfterRequest::Serve;
        }
        T_DIMSE_Message message{};
        T_ASC_PresentationContextID presentationContext = 0;
        DcmDataset* statusDetail = nullptr;
        const OFCondition cond = ReceiveCommand(listener, session, association, presentationContext,
                                                message, statusDetail);
        const std::unique_ptr<DcmDataset> ownedDetail(statusDetail);
        if (cond.bad()) {
            connection->CallerEnded();
            if (cond == DUL_PEERREQUESTEDRELEASE) return AfterRequest::Release;
            return cond == DUL_PEERABORTEDASSOCIATION ? AfterRequest::Aborted : AfterRequest::End;
        }
        if (message.CommandField == DIMSE_C_CANCEL_RQ) {
            connection->CancelHeard(message.msg.CCancelRQ.MessageIDBeingRespondedTo);
            continue;
        }
        if (message.CommandField == DIMSE_C_FIND_RQ) {
            const T_DIMSE_C_FindRQ& second = message.msg.CFindRQ;
            const bool identifierRead =
                second.DataSetType == DIMSE_DATASET_NULL ||
                GatherRequestIdentifier(listener, session, association, presentationContext);
            if (identifierRead && connection->RefuseBusy(presentationContext, second)) {
                OFLOG_WARN(ListenerLog(), "Connection " << connection->number << " from "
                                                        << session.caller.address
                                                        << ": a second C-FIND (message "
                                                        << second.MessageID << ") refused");
                continue;
            }
        }
        // Nothing else may come while a C-FIND runs (one operation at a time).
        connection->CallerEnded();
        return AfterRequest::End;
    }
}

// Reads the identifier of a C-FIND request, raises OnQueryRequest, runs what
// its handler leaves to be done off the form's thread while it hears the
// caller, and makes sure a final status goes out.
AfterRequest ServeFind(Listener& listener, Session& session, T_ASC_Association* association,
                       const std::shared_ptr<DicomConnection::Impl>& connection,
                       T_ASC_PresentationContextID presentationContext,
                       const T_DIMSE_C_FindRQ& request) {
    DicomDataSet identifier;
    IdentifierReading reading = IdentifierReading::Read;  // none: an empty one
    if (request.DataSetType != DIMSE_DATASET_NULL) {
        const std::optional<IdentifierReading> received =
            ReceiveIdentifier(listener, session, association, presentationContext, identifier);
        if (!received) return AfterRequest::End;
        reading = *received;
    }

    const auto finish = [&connection](std::uint16_t status, const std::string& comment = {}) {
        return connection->FinishRequest(status, comment) ? AfterRequest::Serve : AfterRequest::End;
    };
    std::string root = RootOf(request.AffectedSOPClassUID);
    const bool known = !root.empty();
    const bool read = known && reading == IdentifierReading::Read;
    connection->BeginRequest(presentationContext, request, std::move(root),
                             read ? identifier : DicomDataSet());
    if (!known) return finish(kSopClassNotSupported);
    if (reading == IdentifierReading::TooDeep) {
        OFLOG_WARN(ListenerLog(), "Connection " << connection->number << " from "
                                                << session.caller.address << ": "
                                                << kTooDeepComment);
        return finish(kIdentifierDoesNotMatch, kTooDeepComment);
    }
    // e.g. an undecodable character set: the caller gets C000
    if (!read) return finish(kUnableToProcess);

    AfterRequest after = AfterRequest::Serve;
    {
        const RequestWorker worker([&] {
            RaiseEvent(listener, session, [&](DicomViewer& viewer) {
                connection->LendRequest();
                const QueryRequestHandler handler = viewer.OnQueryRequest;
                if (!handler) return;
                DicomConnection lent(connection);
                try {
                    handler(viewer, lent);
                } catch (...) {
                    // The status below.
                }
            });
            const auto work = connection->TakeContinuation();
            if (!work) return;
            const DicomConnection::FormTask onForm = [&](const std::function<void()>& task) {
                return RaiseEvent(listener, session, [&task](DicomViewer&) { task(); });
            };
            try {
                work(onForm);
            } catch (...) {
                // The status below.
            }
        });
        after = HearCaller(listener, session, association, connection, worker);
    }
    // A failing handler, or one that sends nothing, must not leave its
    // caller waiting: C000, or Cancel for a caller that cancelled.
    const AfterRequest finished = finish(connection->Cancelled() ? kCancel : kUnableToProcess);
    return after == AfterRequest::Serve ? finished : after;
}

// The messages of an established association, until it is released, aborted,
// silent for too long or broken.
void ServeRequests(Listener& listener, Session& session, T_ASC_Association* association,
                   const std::shared_ptr<DicomConnection::Impl>& connection,
                   AssociationGuard& guard) {
    const auto release = [&] {
        ASC_acknowledgeRelease(association);
        guard.SetEstablished(false);
    };
    for (;;) {
        T_DIMSE_Message message{};
        T_ASC_PresentationContextID presentationContext = 0;
        DcmDataset* statusDetail = nullptr;
        const OFCondition cond = ReceiveCommand(listener, session, association, presentationContext,
                                                message, statusDetail);
        const std::unique_ptr<DcmDataset> ownedDetail(statusDetail);
        if (cond == DUL_PEERREQUESTEDRELEASE) return release();
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
                switch (ServeFind(listener, session, association, connection, presentationContext,
                                  message.msg.CFindRQ)) {
                    case AfterRequest::Serve:
                        break;
                    case AfterRequest::Release:
                        return release();
                    case AfterRequest::Aborted:
                        guard.SetEstablished(false);
                        return;
                    case AfterRequest::End:
                        return;
                }
                break;
            case DIMSE_C_CANCEL_RQ:
                // Come after the final status: that request is over, nothing to answer.
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
        listener.tls ? OFTrue : OFFalse, DUL_NOBLOCK, listener.timeouts.negotiation);
    listener.MarkAccepted(session);  // also when accept itself failed
    AssociationGuard guard(association, session.caller);
    if (received.bad()) return;
    if (!session.caller.admitted) {
        Refuse(association, session.caller);
        return;
    }
    // The request came whole in time: no later caller may take its place.
    session.caller.until.reset();
    if (session.caller.ticket != nullptr) session.caller.ticket->Settle();
    session.caller.ticket = nullptr;
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
            static_cast<std::size_t>(listener->maxAssociations.load() + kRefusalsAtOnce);
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
    // Joins the sessions left running by a stop made from inside one of
    // their own events; those still inside it stay for later.
    void JoinLeftOver();

    Dispatcher& dispatcher;
    // Associations are numbered from the viewer's start, across restarts.
    const std::shared_ptr<std::atomic<int>> counter = std::make_shared<std::atomic<int>>(0);
    int associationTimeout = 30;
    int messageTimeout = 60;
    ViewerLimits limits;
    DicomTls tls;

    std::shared_ptr<Listener> listener;
    std::thread acceptThread;
    int port = 0;
    std::list<std::shared_ptr<Session>> leftOver;
};

void DicomViewer::Impl::JoinLeftOver() {
    for (auto it = leftOver.begin(); it != leftOver.end();) {
        const bool inside = (*it)->event && (*it)->event->RunningOn(std::this_thread::get_id());
        if (inside) {
            ++it;
            continue;
        }
        if ((*it)->thread.joinable()) (*it)->thread.join();
        it = leftOver.erase(it);
    }
}

void DicomViewer::Impl::Stop() {
    std::shared_ptr<Listener> stopping = std::move(listener);
    if (stopping) {
        stopping->BeginStop();
        if (acceptThread.joinable()) acceptThread.join();
        {
            std::lock_guard lock(stopping->mutex);
            leftOver.splice(leftOver.end(), stopping->sessions);
        }
    }
    // Every session ends now that its events are let go and its caller cut:
    // none outlives the stop, but one whose event is running this very stop
    // (a handler that stops the viewer), which ends once the handler returns.
    JoinLeftOver();
    port = 0;
}

DicomViewer::DicomViewer(Dispatcher& dispatcher) : impl_(std::make_unique<Impl>(dispatcher)) {}

DicomViewer::~DicomViewer() {
    impl_->Stop();
    // Destroyed from inside its own event: the last resort.
    for (auto& session : impl_->leftOver)
        if (session->thread.joinable()) session->thread.detach();
}

void DicomViewer::SetTimeouts(int associationSeconds, int messageSeconds) {
    if (associationSeconds > 0) impl_->associationTimeout = associationSeconds;
    if (messageSeconds > 0) impl_->messageTimeout = messageSeconds;
    if (impl_->listener) {
        impl_->listener->timeouts.negotiation = impl_->associationTimeout;
        impl_->listener->timeouts.message = impl_->messageTimeout;
    }
}

void DicomViewer::SetLimits(const ViewerLimits& limits) {
    const ViewerLimits defaults;
    const auto chosen = [](auto value, auto fallback) { return value > 0 ? value : fallback; };
    impl_->limits = {
        chosen(limits.maxAssociations, defaults.maxAssociations),
        chosen(limits.maxAssociationsPerAddress, defaults.maxAssociationsPerAddress),
        chosen(limits.maxIdentifierBytes, defaults.maxIdentifierBytes),
    };
    if (impl_->listener) impl_->listener->SetLimits(impl_->limits);
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
                                               impl_->limits, std::move(tls));
    listener->timeouts.negotiation = impl_->associationTimeout;
    listener->timeouts.message = impl_->messageTimeout;
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
    impl_->port = ntohs(bound.sin_port);
    return true;
}

int DicomViewer::ListeningPort() const { return impl_->port; }

void DicomViewer::ViewerStop() { impl_->Stop(); }

}  // namespace lumo::dicom
