#include "dicom/listener/detail/ListenerTransport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <system_error>
#include <utility>

#include <dcmtk/dcmnet/cond.h>
#include <dcmtk/oflog/oflog.h>

#include "dicom/net/detail/SocketOptions.h"
#include "dicom/net/detail/TlsChannel.h"

namespace lumo::dicom::detail {

void SocketWatch::Add(int fd) {
    std::lock_guard lock(mutex_);
    if (closing_) ::shutdown(fd, SHUT_RDWR);
    fds_.insert(fd);
}

void SocketWatch::Remove(int fd) {
    std::lock_guard lock(mutex_);
    fds_.erase(fd);
}

void SocketWatch::CutAll() {
    std::lock_guard lock(mutex_);
    closing_ = true;
    for (int fd : fds_) ::shutdown(fd, SHUT_RDWR);
}

// ---------------------------------------------------------------------------

AdmissionTicket::~AdmissionTicket() {
    if (count_ != nullptr) count_->Leave(id_);
}

AdmissionTicket::AdmissionTicket(AdmissionTicket&& other) noexcept
    : count_(std::exchange(other.count_, nullptr)), id_(other.id_) {}

AdmissionTicket& AdmissionTicket::operator=(AdmissionTicket&& other) noexcept {
    if (this != &other) {
        if (count_ != nullptr) count_->Leave(id_);
        count_ = std::exchange(other.count_, nullptr);
        id_ = other.id_;
    }
    return *this;
}

void AdmissionTicket::Settle() noexcept {
    if (count_ != nullptr) count_->Settle(id_);
}

void AssociationCount::SetLimits(int maxInAll, int maxPerAddress) noexcept {
    std::lock_guard lock(mutex_);
    maxInAll_ = maxInAll;
    maxPerAddress_ = maxPerAddress;
}

std::map<std::uint64_t, AssociationCount::Holder>::iterator AssociationCount::GiveWayTo(
    std::uint32_t address) {
    const auto held = [this](std::uint32_t from) {
        const auto it = perAddress_.find(from);
        return it == perAddress_.end() ? 0 : it->second;
    };
    auto victim = holders_.end();
    int most = held(address) + 1;  // the victim's address must hold more than this after
    for (auto it = holders_.begin(); it != holders_.end(); ++it) {
        if (it->second.socket < 0) continue;
        const int count = held(it->second.address);
        if (count > most) {
            most = count;
            victim = it;
        }
    }
    return victim;
}

AdmissionTicket AssociationCount::Admit(std::uint32_t address, int socket, std::string& refusal,
                                        std::optional<std::uint32_t>& cut) {
    std::lock_guard lock(mutex_);
    const auto from = perAddress_.find(address);
    if (from != perAddress_.end() && from->second >= maxPerAddress_) {
        refusal = std::to_string(maxPerAddress_) + " associations from that address are open";
        return {};
    }
    if (static_cast<int>(holders_.size()) >= maxInAll_) {
        const auto victim = GiveWayTo(address);
        if (victim == holders_.end()) {
            refusal = std::to_string(maxInAll_) + " associations are open";
            return {};
        }
        // Its thread finds its connection closed and ends; its place is this caller's now.
        ::shutdown(victim->second.socket, SHUT_RDWR);
        cut = victim->second.address;
        if (--perAddress_[victim->second.address] <= 0) perAddress_.erase(victim->second.address);
        holders_.erase(victim);
    }
    ++perAddress_[address];
    const std::uint64_t id = nextId_++;
    holders_.emplace(id, Holder{address, socket});
    return AdmissionTicket(*this, id);
}

void AssociationCount::Settle(std::uint64_t id) noexcept {
    std::lock_guard lock(mutex_);
    const auto it = holders_.find(id);
    if (it != holders_.end()) it->second.socket = -1;
}

void AssociationCount::Leave(std::uint64_t id) noexcept {
    std::lock_guard lock(mutex_);
    const auto it = holders_.find(id);
    if (it == holders_.end()) return;  // its place was given to another caller
    const auto from = perAddress_.find(it->second.address);
    if (from != perAddress_.end() && --from->second <= 0) perAddress_.erase(from);
    holders_.erase(it);
}

namespace {

using Clock = std::chrono::steady_clock;

OFLogger& ListenerLog() {
    static OFLogger logger = OFLog::getLogger("lumo.dicom.listener");
    return logger;
}

// An association request larger than this is left to DCMTK as it comes.
constexpr std::size_t kMostRequestBytes = std::size_t{1} << 20;

std::uint32_t Be32At(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}
std::uint16_t Be16At(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint16_t>((static_cast<unsigned char>(bytes[at]) << 8) |
                                      static_cast<unsigned char>(bytes[at + 1]));
}
void PutBe16(std::string& bytes, std::size_t at, std::size_t value) {
    bytes[at] = static_cast<char>((value >> 8) & 0xFF);
    bytes[at + 1] = static_cast<char>(value & 0xFF);
}
void PutBe32(std::string& bytes, std::size_t at, std::size_t value) {
    for (std::size_t i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>((value >> (8 * (3 - i))) & 0xFF);
}

// A TCP connection, TLS-protected or not, that registers its socket with
// the watch for as long as it is open, holds its caller's place in the
// count, lets no read (nor the TLS handshake) go past the caller's
// deadline, and no write past the message timeout. Owned by DCMTK's
// association; read on its thread only, written by any thread (a relayed
// query's sends, a refusal while it runs), one write at a time: the
// connection's owner serialises them. A TLS session is driven under a lock
// of its own, so that a read and a write never meet inside OpenSSL.
class WatchedConnection final : public DcmTCPConnection {
  public:
    WatchedConnection(DcmNativeSocketType socket, SocketWatch& watch, CallerState& caller,
                      AdmissionTicket ticket, const CallerTimeouts& timeouts,
                      std::unique_ptr<TlsChannel> tls)
        : DcmTCPConnection(socket),
          watch_(watch),
          caller_(caller),
          ticket_(std::move(ticket)),
          timeouts_(timeouts),
          fd_(socket),
          address_(caller.address),
          tls_(std::move(tls)) {
        watch_.Add(fd_);
    }
    ~WatchedConnection() override {
        // DCMTK may drop the connection while the association is still being
        // received: the caller's state must not keep pointing at its place.
        if (caller_.ticket == &ticket_) caller_.ticket = nullptr;
        watch_.Remove(fd_);
    }
    WatchedConnection(const WatchedConnection&) = delete;
    WatchedConnection& operator=(const WatchedConnection&) = delete;

    AdmissionTicket& Ticket() { return ticket_; }

    void close() override {
        ticket_.Settle();  // its socket is going: never to be cut again
        if (tls_) {
            std::lock_guard lock(tlsMutex_);
            tls_->Close();
        }
        watch_.Remove(fd_);
        DcmTCPConnection::close();
    }
    OFBool isTransparentConnection() override { return tls_ ? OFFalse : OFTrue; }

    // A caller that does not finish its handshake within its deadline (a
    // plain caller at a TLS port waits for an answer that never comes) is
    // let go, and the log says why.
    OFCondition serverSideHandshake() override {
        if (!tls_) return EC_Normal;
        for (;;) {
            TlsStep step = TlsStep::Failed;
            std::string why;
            {
                std::lock_guard lock(tlsMutex_);
                step = tls_->Handshake();
                if (step == TlsStep::Closed || step == TlsStep::Failed) why = tls_->Failure(true);
            }
            if (step == TlsStep::Done) return EC_Normal;
            if (why.empty() && !WaitFor(step, ReadEnd(std::chrono::hours(24)))) {
                why = "no TLS handshake in time (a plain DICOM caller?)";
            }
            if (why.empty()) continue;
            OFLOG_WARN(ListenerLog(), "TLS connection from " << address_ << " refused: " << why);
            return makeDcmnetCondition(DULC_TLSERROR, OF_error, why.c_str());
        }
    }
    // All of the bytes, or a failure: a caller that takes nothing for the
    // message timeout is cut off, whatever DCMTK's own send timeout.
    ssize_t write(void* buf, size_t nbyte) override {
        const Clock::time_point end = Clock::now() + std::chrono::seconds(timeouts_.message.load());
        const auto* bytes = static_cast<const char*>(buf);
        std::size_t at = 0;
        while (at < nbyte) {
            TlsStep step = TlsStep::Done;
            std::size_t put = 0;
            if (tls_) {
                std::lock_guard lock(tlsMutex_);
                step = tls_->Write(bytes + at, nbyte - at, put);
            } else {
                const ssize_t sent =
                    ::send(fd_, bytes + at, nbyte - at, MSG_NOSIGNAL | MSG_DONTWAIT);
                if (sent >= 0) {
                    put = static_cast<std::size_t>(sent);
                } else if (errno == EINTR) {
                    continue;
                } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    step = TlsStep::WantWrite;
                } else {
                    return -1;
                }
            }
            if (step == TlsStep::Done) {
                at += put;
                continue;
            }
            if (step == TlsStep::Closed || step == TlsStep::Failed) {
                errno = EPIPE;
                return -1;
            }
            if (!WaitFor(step, end)) {
                OFLOG_WARN(ListenerLog(), "Connection from " << address_
                                                             << " cut: it took nothing for "
                                                             << timeouts_.message.load() << " s");
                errno = ETIMEDOUT;
                return -1;
            }
        }
        return static_cast<ssize_t>(nbyte);
    }
    void closeTransportConnection() override {
        watch_.Remove(fd_);
        DcmTCPConnection::closeTransportConnection();
    }
    OFBool networkDataAvailable(int timeout) override {
        if (!held_.empty()) return OFTrue;
        if (tls_) {
            std::lock_guard lock(tlsMutex_);
            if (tls_->Pending()) return OFTrue;
        }
        return DataWithin(std::chrono::seconds(std::max(timeout, 0)));
    }
    // DCMTK reads a protocol data unit's body without a bound of its own
    // beyond the socket's (which restarts with every byte). The first PDU
    // is read whole here, and mended if it is an association request DCMTK
    // cannot take as it is.
    ssize_t read(void* buf, size_t nbyte) override {
        if (first_) {
            first_ = false;
            if (!ReadFirstPdu()) {
                errno = ECONNRESET;
                return -1;
            }
        }
        if (!held_.empty()) {
            const std::size_t n = std::min(nbyte, held_.size() - heldAt_);
            std::memcpy(buf, held_.data() + heldAt_, n);
            heldAt_ += n;
            if (heldAt_ == held_.size()) {
                std::string().swap(held_);
                heldAt_ = 0;
            }
            return static_cast<ssize_t>(n);
        }
        return ReadSome(buf, nbyte);
    }

  private:
    ssize_t ReadSome(void* buf, size_t nbyte) {
        if (tls_) return ReadTls(buf, nbyte);
        if (caller_.until && !DataWithin(std::chrono::hours(24))) {
            errno = ETIMEDOUT;
            return -1;
        }
        const ssize_t got = DcmTCPConnection::read(buf, nbyte);
        if (got > 0) AckAtOnce(getSocket());
        return got;
    }

    // Exactly `size` more bytes into `out`; false when the connection ended
    // or the deadline passed first.
    bool ReadExactly(std::string& out, std::size_t size) {
        const std::size_t start = out.size();
        out.resize(start + size);
        for (std::size_t at = 0; at < size;) {
            const ssize_t got = ReadSome(out.data() + start + at, size - at);
            if (got <= 0) return false;
            at += static_cast<std::size_t>(got);
        }
        return true;
    }

    bool ReadFirstPdu() {
        std::string pdu;
        if (!ReadExactly(pdu, 6)) return false;
        const std::size_t length = Be32At(pdu, 2);
        if (pdu[0] == 0x01 && length <= kMostRequestBytes) {
            if (!ReadExactly(pdu, length)) return false;
            std::string mended;
            pdu = MendAssociateRequest(std::move(pdu), mended);
            if (!mended.empty()) {
                OFLOG_WARN(ListenerLog(), "Association from "
                                              << address_ << ": presentation context " << mended
                                              << " proposes no transfer syntax, refused as "
                                                 "transfer-syntaxes-not-supported");
            }
        }
        held_ = std::move(pdu);
        return true;
    }

    ssize_t ReadTls(void* buf, size_t nbyte) {
        for (;;) {
            std::size_t got = 0;
            TlsStep step = TlsStep::Failed;
            std::string broken;
            {
                std::lock_guard lock(tlsMutex_);
                step = tls_->Read(buf, nbyte, got);
                if (step == TlsStep::Failed) broken = tls_->Failure(false);
            }
            if (step == TlsStep::Done) return static_cast<ssize_t>(got);
            if (step == TlsStep::Closed) return 0;
            if (step == TlsStep::Failed) {
                OFLOG_WARN(ListenerLog(),
                           "TLS connection from " << address_ << " broken: " << broken);
                errno = ECONNRESET;
                return -1;
            }
            if (!WaitFor(step, ReadEnd(std::chrono::hours(24)))) {
                errno = ETIMEDOUT;
                return -1;
            }
        }
    }

    // When a read that may wait `wait` gives up: never past the caller's
    // deadline. The reading thread only.
    Clock::time_point ReadEnd(Clock::duration wait) const {
        Clock::time_point end = Clock::now() + wait;
        if (caller_.until) end = std::min(end, *caller_.until);
        return end;
    }

    // Waits as `step` asks, up to `end`; false when the time ran out first.
    bool WaitFor(TlsStep step, Clock::time_point end) const {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        return left.count() > 0 && WaitForSocket(fd_, step, -1, left);
    }

    // Waits up to `wait`, and never past the caller's deadline, for
    // something to read (or the end of the connection).
    bool DataWithin(Clock::duration wait) const {
        const Clock::time_point end = ReadEnd(wait);
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
            pollfd fd{fd_, POLLIN, 0};
            const auto ms = std::clamp<long long>(left.count(), 0, INT_MAX);
            const int found = ::poll(&fd, 1, static_cast<int>(ms));
            if (found >= 0 || errno != EINTR) return found > 0;
        }
    }

    SocketWatch& watch_;
    CallerState& caller_;  // its deadline, read by the reading thread; its place, let go at the end
    AdmissionTicket ticket_;
    const CallerTimeouts& timeouts_;
    const int fd_;
    const std::string address_;
    std::mutex tlsMutex_;
    const std::unique_ptr<TlsChannel> tls_;  // null: plain TCP; driven under tlsMutex_
    bool first_ = true;                      // the reading thread only, as are the two below
    std::string held_;                       // bytes read here that DCMTK has yet to take
    std::size_t heldAt_ = 0;
};

std::string Dotted(std::uint32_t address) {
    in_addr in{};
    in.s_addr = htonl(address);
    char dotted[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &in, dotted, sizeof dotted);
    return dotted;
}

}  // namespace

DcmTransportConnection* WatchingLayer::createConnection(DcmNativeSocketType socket,
                                                        OFBool useSecureLayer) {
    SendAtOnce(socket);
    CallerState* caller = hooks_.caller();
    const bool sameLayer = static_cast<bool>(useSecureLayer) == (tls_ != nullptr);
    DcmTransportConnection* connection =
        caller != nullptr && sameLayer ? Admit(socket, *caller) : nullptr;
    hooks_.accepted();
    return connection;  // owned by DCMTK's association from here on
}

DcmTransportConnection* WatchingLayer::Admit(DcmNativeSocketType socket, CallerState& caller) {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return nullptr;
    const std::uint32_t address = ntohl(peer.sin_addr.s_addr);
    caller.address = Dotted(address);
    caller.socket = socket;

    std::optional<std::uint32_t> cut;
    AdmissionTicket ticket = count_.Admit(address, socket, caller.refusal, cut);
    if (cut) {
        OFLOG_WARN(ListenerLog(), "Association from " << Dotted(*cut)
                                                      << " cut while negotiating: its place "
                                                         "goes to a caller from "
                                                      << caller.address);
    }
    caller.admitted = static_cast<bool>(ticket);
    caller.until =
        Clock::now() +
        (caller.admitted ? std::chrono::seconds(timeouts_.negotiation.load()) : kRefusalWait);
    std::unique_ptr<TlsChannel> tls;
    if (tls_ != nullptr) tls = std::make_unique<TlsChannel>(*tls_, socket, caller.address);
    auto* connection =
        new WatchedConnection(socket, watch_, caller, std::move(ticket), timeouts_, std::move(tls));
    if (caller.admitted) caller.ticket = &connection->Ticket();
    return connection;
}

std::string MendAssociateRequest(std::string pdu, std::string& changed) {
    changed.clear();
    constexpr std::size_t kItemsAt = 6 + 68;  // the PDU header, then the fixed fields
    if (pdu.size() < kItemsAt || pdu[0] != 0x01 || Be32At(pdu, 2) != pdu.size() - 6) return pdu;
    std::string mended = pdu.substr(0, kItemsAt);
    for (std::size_t at = kItemsAt; at < pdu.size();) {
        if (pdu.size() - at < 4) return pdu;
        const std::size_t length = Be16At(pdu, at + 2);
        if (pdu.size() - at - 4 < length) return pdu;
        std::string item = pdu.substr(at, 4 + length);
        at += 4 + length;
        if (item[0] == 0x20 && length >= 4) {
            bool proposes = false;
            for (std::size_t sub = 8; sub < item.size();) {
                if (item.size() - sub < 4) return pdu;
                const std::size_t subLength = Be16At(item, sub + 2);
                if (item[sub] == 0x40) proposes = true;
                sub += 4 + subLength;
                if (sub > item.size()) return pdu;
            }
            if (!proposes && length + 4 <= 0xFFFF) {
                item += std::string("\x40\0\0\0", 4);  // an empty transfer syntax
                PutBe16(item, 2, length + 4);
                if (!changed.empty()) changed += ", ";
                changed += std::to_string(static_cast<unsigned char>(item[4]));
            }
        }
        mended += item;
    }
    PutBe32(mended, 2, mended.size() - 6);
    return mended;
}

}  // namespace lumo::dicom::detail
