#pragma once

// Private to dicom/: the listener's sockets. Which callers get a place (the
// associations held at once, in all and per caller address), how long a
// caller may take over what it sends (DCMTK bounds each read, so a caller
// sending a byte now and then would hold its association for ever), cutting
// every connection at once when the listener stops, and hearing a caller
// that speaks while its request is with the form.

#include <dcmtk/dcmnet/dcmlayer.h>
#include <dcmtk/dcmnet/dcmtrans.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>

#include "support/FileDescriptor.h"

namespace lumo::dicom::detail {

class TlsContext;

// The sockets of the associations in progress, so that stopping can cut them
// all at once: a caller that stays silent, or a handler's send, then fails at
// once instead of waiting for its timeout. Used by every listener thread.
class SocketWatch {
  public:
    void Add(int fd);
    // Called before the socket is closed, so a cut never hits a reused number.
    void Remove(int fd);
    void CutAll();

  private:
    std::mutex mutex_;
    std::set<int> fds_;     // under mutex_
    bool closing_ = false;  // under mutex_
};

class AssociationCount;

// One admitted caller's place in the count, given back when it goes. Owned
// by the caller's connection; moved, never copied.
class AdmissionTicket {
  public:
    AdmissionTicket() = default;
    AdmissionTicket(AssociationCount& count, std::uint32_t address) noexcept
        : count_(&count), address_(address) {}
    ~AdmissionTicket();
    AdmissionTicket(AdmissionTicket&& other) noexcept;
    AdmissionTicket& operator=(AdmissionTicket&& other) noexcept;
    AdmissionTicket(const AdmissionTicket&) = delete;
    AdmissionTicket& operator=(const AdmissionTicket&) = delete;

    explicit operator bool() const noexcept { return count_ != nullptr; }

  private:
    AssociationCount* count_ = nullptr;
    std::uint32_t address_ = 0;
};

// The callers connected at once, in all and per address (IPv4, host order),
// against the listener's limits. Shared by the listener's threads; each call
// takes the lock for a few instructions.
class AssociationCount {
  public:
    AssociationCount(int maxInAll, int maxPerAddress) noexcept
        : maxInAll_(maxInAll), maxPerAddress_(maxPerAddress) {}

    // A place for one more caller from `address`, or an empty ticket and the
    // limit that is reached, in words, in `refusal`.
    AdmissionTicket Admit(std::uint32_t address, std::string& refusal);

  private:
    friend class AdmissionTicket;
    void Leave(std::uint32_t address) noexcept;

    const int maxInAll_;
    const int maxPerAddress_;
    std::mutex mutex_;
    int inAll_ = 0;                            // under mutex_
    std::map<std::uint32_t, int> perAddress_;  // under mutex_
};

// What an association's thread and its connection share. Owned by the
// association's thread, which alone reads and writes it (the connection's
// reads run inside DCMTK calls made on that thread).
struct CallerState {
    std::string address;                                         // dotted, for the log
    bool admitted = false;                                       // false: to be refused
    std::string refusal;                                         // why not admitted
    std::optional<std::chrono::steady_clock::time_point> until;  // every read gives up here
    int socket = -1;        // the caller's connection, once accepted
    bool peekable = false;  // its bytes are the protocol's as they are (no TLS)
};

// Bounds every read of a caller's connection, whole messages and not each
// read, for as long as it lives.
class CallerDeadline {
  public:
    CallerDeadline(CallerState& caller, std::chrono::seconds span) : caller_(caller) {
        caller_.until = std::chrono::steady_clock::now() + span;
    }
    ~CallerDeadline() { caller_.until.reset(); }
    CallerDeadline(const CallerDeadline&) = delete;
    CallerDeadline& operator=(const CallerDeadline&) = delete;

  private:
    CallerState& caller_;
};

// What DCMTK's factory asks of the listener about the association whose
// thread is accepting.
struct AcceptHooks {
    // That association's caller state; null when no thread is accepting.
    std::function<CallerState*()> caller;
    // The caller is in and judged: the listen socket is free for the next.
    std::function<void()> accepted;
};

// DCMTK's factory for accepted sockets: it is called right after accept(),
// before the caller's first byte is read. It decides whether the caller has
// a place, starts the clock on its association request (`negotiation` for an
// admitted caller, a short while for one that only waits for its refusal;
// the TLS handshake, when the listener speaks TLS, counts within it) and
// only then lets the listener accept the next caller, so that callers are
// judged in the order they came. Owned by the listener, as is the TLS
// context it may be given; called on the thread of the association being
// accepted.
class WatchingLayer final : public DcmTransportLayer {
  public:
    WatchingLayer(SocketWatch& watch, AssociationCount& count, std::chrono::seconds negotiation,
                  AcceptHooks hooks, const TlsContext* tls = nullptr)
        : watch_(watch),
          count_(count),
          negotiation_(negotiation),
          hooks_(std::move(hooks)),
          tls_(tls) {}

    DcmTransportConnection* createConnection(DcmNativeSocketType socket,
                                             OFBool useSecureLayer) override;

  private:
    DcmTransportConnection* Admit(DcmNativeSocketType socket, CallerState& caller);

    SocketWatch& watch_;
    AssociationCount& count_;
    const std::chrono::seconds negotiation_;
    const AcceptHooks hooks_;
    const TlsContext* const tls_;  // null: plain TCP
};

// What a caller sent while its request was waiting for its final status:
// during a C-FIND the only message it may send is a C-CANCEL-RQ; anything
// else ends its association (an A-ABORT, a release request, a closed
// connection).
enum class CallerSpeech { Cancel, End };

// Listens to a caller's socket, without reading from it, while its request
// is with the form's handler, so that the handler hears at once when the
// caller cancels or goes, even while it waits on a silent node of its own.
// It only polls and peeks: DCMTK reads the message itself later, on the
// association's thread, once the handler has returned, so nothing reads the
// association while the handler sends on it. Owns a thread and its wake-up
// descriptor; created and destroyed on the association's thread; `heard`
// runs on the watching thread, at most once, after which it listens no
// more (what was sent stays unread for DCMTK). Without a thread or a
// descriptor to be had it hears nothing, and the request goes on as if the
// caller were silent.
class CallerWatch {
  public:
    // `peekable`: the socket carries the protocol's bytes as they are (no
    // TLS), so the first byte of what came tells a cancel (a P-DATA-TF) from
    // the end of the association. Otherwise anything readable counts as a
    // cancel unless the connection is closed.
    CallerWatch(int socket, bool peekable, std::function<void(CallerSpeech)> heard);
    ~CallerWatch();  // stops listening and joins
    CallerWatch(const CallerWatch&) = delete;
    CallerWatch& operator=(const CallerWatch&) = delete;

  private:
    void Listen() const;

    const int socket_;
    const bool peekable_;
    const std::function<void(CallerSpeech)> heard_;
    FileDescriptor wake_;
    std::thread thread_;
};

// How long a caller beyond the limits has to send its request, and then to
// take its refusal and leave: a proper caller has sent its request as it
// connected; one that has not is not waited for.
inline constexpr std::chrono::seconds kRefusalWait{2};

}  // namespace lumo::dicom::detail
