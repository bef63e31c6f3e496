#pragma once

// Private to dicom/: the listener's sockets. Which callers get a place (the
// associations held at once, in all and per caller address, and who gives
// way when they are all taken), how long a caller may take over what it
// sends and over taking what it is sent (DCMTK bounds each read, so a
// caller sending a byte now and then would hold its association for ever),
// cutting every connection at once when the listener stops, and the one
// association request DCMTK cannot take as it comes.

#include <dcmtk/dcmnet/dcmlayer.h>
#include <dcmtk/dcmnet/dcmtrans.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>

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

// One admitted caller's place in the count, given back when it goes (or
// taken from it by a caller that needed it more, while it still
// negotiated). Owned by the caller's connection; moved, never copied.
class AdmissionTicket {
  public:
    AdmissionTicket() = default;
    AdmissionTicket(AssociationCount& count, std::uint64_t id) noexcept : count_(&count), id_(id) {}
    ~AdmissionTicket();
    AdmissionTicket(AdmissionTicket&& other) noexcept;
    AdmissionTicket& operator=(AdmissionTicket&& other) noexcept;
    AdmissionTicket(const AdmissionTicket&) = delete;
    AdmissionTicket& operator=(const AdmissionTicket&) = delete;

    explicit operator bool() const noexcept { return count_ != nullptr; }
    // The caller's association request came whole: its place is its own
    // from now on (and its socket may close without being cut later).
    void Settle() noexcept;

  private:
    AssociationCount* count_ = nullptr;
    std::uint64_t id_ = 0;
};

// The callers connected at once, in all and per address (IPv4, host order),
// against the listener's limits. When every place is taken, a caller from
// an address holding at least two places fewer than another takes the place
// of that address's oldest caller still negotiating (its connection is
// cut): callers that open connections and never finish their association
// request cannot keep out a caller from an address that holds nothing.
// Shared by the listener's threads; each call takes the lock for a few
// instructions.
class AssociationCount {
  public:
    AssociationCount(int maxInAll, int maxPerAddress) noexcept
        : maxInAll_(maxInAll), maxPerAddress_(maxPerAddress) {}

    // Takes effect for the callers that come next.
    void SetLimits(int maxInAll, int maxPerAddress) noexcept;

    // A place for one more caller from `address`, whose connection is
    // `socket` (cut if its place is taken before it settles), or an empty
    // ticket and the limit that is reached, in words, in `refusal`. `cut`
    // names the address whose caller gave way, if one did.
    AdmissionTicket Admit(std::uint32_t address, int socket, std::string& refusal,
                          std::optional<std::uint32_t>& cut);

  private:
    friend class AdmissionTicket;
    struct Holder {
        std::uint32_t address;
        int socket;  // -1 once settled: no longer cut
    };
    void Leave(std::uint64_t id) noexcept;
    void Settle(std::uint64_t id) noexcept;
    // The oldest unsettled holder of the address holding the most, if that
    // address holds at least two more than `address`.
    std::map<std::uint64_t, Holder>::iterator GiveWayTo(std::uint32_t address);

    std::mutex mutex_;
    int maxInAll_;                             // under mutex_
    int maxPerAddress_;                        // under mutex_
    std::map<std::uint64_t, Holder> holders_;  // under mutex_, by order of admission
    std::map<std::uint32_t, int> perAddress_;  // under mutex_
    std::uint64_t nextId_ = 1;                 // under mutex_
};

// What an association's thread and its connection share. Owned by the
// association's thread, which alone reads and writes it (the connection's
// reads run inside DCMTK calls made on that thread; its writes, which any
// thread may make, read none of it).
struct CallerState {
    std::string address;                                         // dotted, for the log
    bool admitted = false;                                       // false: to be refused
    std::string refusal;                                         // why not admitted
    std::optional<std::chrono::steady_clock::time_point> until;  // every read gives up here
    int socket = -1;                                             // the caller's connection
    AdmissionTicket* ticket = nullptr;                           // its place, once admitted
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

// The listener's timeouts, in seconds, as the settings give them at the
// moment: a caller's whole association request (its TLS handshake
// included), and each message it sends or is sent. Shared by the
// listener's threads.
struct CallerTimeouts {
    std::atomic<int> negotiation{30};
    std::atomic<int> message{60};
};

// DCMTK's factory for accepted sockets: it is called right after accept(),
// before the caller's first byte is read. It decides whether the caller has
// a place, starts the clock on its association request (the negotiation
// timeout for an admitted caller, a short while for one that only waits for
// its refusal; the TLS handshake, when the listener speaks TLS, counts
// within it) and only then lets the listener accept the next caller, so
// that callers are judged in the order they came. Its connections bound
// each write to the message timeout (a caller that takes nothing is cut
// off), and answer a presentation context that proposes no transfer syntax
// as one whose transfer syntaxes are not supported (DCMTK would drop such a
// caller without a word, and lose memory on the way). Owned by the
// listener, as is the TLS context it may be given; called on the thread of
// the association being accepted.
class WatchingLayer final : public DcmTransportLayer {
  public:
    WatchingLayer(SocketWatch& watch, AssociationCount& count, const CallerTimeouts& timeouts,
                  AcceptHooks hooks, const TlsContext* tls = nullptr)
        : watch_(watch), count_(count), timeouts_(timeouts), hooks_(std::move(hooks)), tls_(tls) {}

    DcmTransportConnection* createConnection(DcmNativeSocketType socket,
                                             OFBool useSecureLayer) override;

  private:
    DcmTransportConnection* Admit(DcmNativeSocketType socket, CallerState& caller);

    SocketWatch& watch_;
    AssociationCount& count_;
    const CallerTimeouts& timeouts_;
    const AcceptHooks hooks_;
    const TlsContext* const tls_;  // null: plain TCP
};

// An A-ASSOCIATE-RQ PDU (header and body) with an empty transfer syntax
// sub-item added to each presentation context that proposes none, and its
// lengths put right; any other PDU, or one whose items do not add up, comes
// back unchanged (DCMTK judges it). The context is then refused as
// transfer-syntaxes-not-supported, which is what it is. `changed` names the
// presentation context IDs mended.
std::string MendAssociateRequest(std::string pdu, std::string& changed);

// How long a caller beyond the limits has to send its request, and then to
// take its refusal and leave: a proper caller has sent its request as it
// connected; one that has not is not waited for.
inline constexpr std::chrono::seconds kRefusalWait{2};

}  // namespace lumo::dicom::detail
