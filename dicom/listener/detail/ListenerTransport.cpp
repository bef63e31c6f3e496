#include "dicom/listener/detail/ListenerTransport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
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
    if (count_ != nullptr) count_->Leave(address_);
}

AdmissionTicket::AdmissionTicket(AdmissionTicket&& other) noexcept
    : count_(std::exchange(other.count_, nullptr)), address_(other.address_) {}

AdmissionTicket& AdmissionTicket::operator=(AdmissionTicket&& other) noexcept {
    if (this != &other) {
        if (count_ != nullptr) count_->Leave(address_);
        count_ = std::exchange(other.count_, nullptr);
        address_ = other.address_;
    }
    return *this;
}

AdmissionTicket AssociationCount::Admit(std::uint32_t address, std::string& refusal) {
    std::lock_guard lock(mutex_);
    if (inAll_ >= maxInAll_) {
        refusal = std::to_string(maxInAll_) + " associations are open";
        return {};
    }
    int& fromAddress = perAddress_[address];
    if (fromAddress >= maxPerAddress_) {
        refusal = std::to_string(maxPerAddress_) + " associations from that address are open";
        return {};
    }
    ++fromAddress;
    ++inAll_;
    return AdmissionTicket(*this, address);
}

void AssociationCount::Leave(std::uint32_t address) noexcept {
    std::lock_guard lock(mutex_);
    --inAll_;
    const auto it = perAddress_.find(address);
    if (it != perAddress_.end() && --it->second <= 0) perAddress_.erase(it);
}

namespace {

using Clock = std::chrono::steady_clock;

// How long a TLS write waits for a caller that takes nothing: a plain
// socket's send waits as long (DCMTK's send timeout).
constexpr std::chrono::seconds kTlsWriteWait{60};

OFLogger& TlsLog() {
    static OFLogger logger = OFLog::getLogger("lumo.dicom.listener");
    return logger;
}

// A TCP connection, TLS-protected or not, that registers its socket with
// the watch for as long as it is open, holds its caller's place in the
// count, and lets no read (nor the TLS handshake) go past the caller's
// deadline. Owned by DCMTK's association; used by its thread.
class WatchedConnection final : public DcmTCPConnection {
  public:
    WatchedConnection(DcmNativeSocketType socket, SocketWatch& watch, CallerState& caller,
                      AdmissionTicket ticket, std::unique_ptr<TlsChannel> tls)
        : DcmTCPConnection(socket),
          watch_(watch),
          caller_(caller),
          ticket_(std::move(ticket)),
          fd_(socket),
          tls_(std::move(tls)) {
        watch_.Add(fd_);
    }
    ~WatchedConnection() override { watch_.Remove(fd_); }
    WatchedConnection(const WatchedConnection&) = delete;
    WatchedConnection& operator=(const WatchedConnection&) = delete;

    void close() override {
        if (tls_) tls_->Close();
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
            const TlsStep step = tls_->Handshake();
            if (step == TlsStep::Done) return EC_Normal;
            std::string why;
            if (step == TlsStep::Closed || step == TlsStep::Failed) {
                why = tls_->Failure(true);
            } else if (!WaitFor(step, std::chrono::hours(24))) {
                why = "no TLS handshake in time (a plain DICOM caller?)";
            }
            if (why.empty()) continue;
            OFLOG_WARN(TlsLog(), "TLS connection from " << caller_.address << " refused: " << why);
            return makeDcmnetCondition(DULC_TLSERROR, OF_error, why.c_str());
        }
    }
    ssize_t write(void* buf, size_t nbyte) override {
        if (!tls_) return DcmTCPConnection::write(buf, nbyte);
        if (tls_->WriteAll(buf, nbyte, kTlsWriteWait) != TlsStep::Done) {
            errno = EPIPE;
            return -1;
        }
        return static_cast<ssize_t>(nbyte);
    }
    void closeTransportConnection() override {
        watch_.Remove(fd_);
        DcmTCPConnection::closeTransportConnection();
    }
    OFBool networkDataAvailable(int timeout) override {
        if (tls_ && tls_->Pending()) return OFTrue;
        return DataWithin(std::chrono::seconds(std::max(timeout, 0)));
    }
    // DCMTK reads a protocol data unit's body without a bound of its own
    // beyond the socket's (which restarts with every byte).
    ssize_t read(void* buf, size_t nbyte) override {
        if (tls_) return ReadTls(buf, nbyte);
        if (caller_.until && !DataWithin(std::chrono::hours(24))) {
            errno = ETIMEDOUT;
            return -1;
        }
        const ssize_t got = DcmTCPConnection::read(buf, nbyte);
        if (got > 0) AckAtOnce(getSocket());
        return got;
    }

  private:
    ssize_t ReadTls(void* buf, size_t nbyte) {
        for (;;) {
            std::size_t got = 0;
            const TlsStep step = tls_->Read(buf, nbyte, got);
            if (step == TlsStep::Done) return static_cast<ssize_t>(got);
            if (step == TlsStep::Closed) return 0;
            if (step == TlsStep::Failed) {
                OFLOG_WARN(TlsLog(), "TLS connection from " << caller_.address
                                                            << " broken: " << tls_->Failure(false));
                errno = ECONNRESET;
                return -1;
            }
            if (!WaitFor(step, std::chrono::hours(24))) {
                errno = ETIMEDOUT;
                return -1;
            }
        }
    }

    // Waits as `step` asks, up to `wait` and never past the caller's
    // deadline; false when the time ran out first.
    bool WaitFor(TlsStep step, Clock::duration wait) const {
        Clock::time_point end = Clock::now() + wait;
        if (caller_.until) end = std::min(end, *caller_.until);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        return left.count() > 0 && WaitForSocket(fd_, step, -1, left);
    }

    // Waits up to `wait`, and never past the caller's deadline, for
    // something to read (or the end of the connection).
    bool DataWithin(Clock::duration wait) const {
        Clock::time_point end = Clock::now() + wait;
        if (caller_.until) end = std::min(end, *caller_.until);
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
    const CallerState& caller_;
    const AdmissionTicket ticket_;
    const int fd_;
    const std::unique_ptr<TlsChannel> tls_;  // null: plain TCP
};

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
    char dotted[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &peer.sin_addr, dotted, sizeof dotted);
    caller.address = dotted;
    caller.socket = socket;
    // A TLS record's first byte says nothing of the DICOM message it carries.
    caller.peekable = tls_ == nullptr;

    AdmissionTicket ticket = count_.Admit(ntohl(peer.sin_addr.s_addr), caller.refusal);
    caller.admitted = static_cast<bool>(ticket);
    caller.until =
        std::chrono::steady_clock::now() + (caller.admitted ? negotiation_ : kRefusalWait);
    std::unique_ptr<TlsChannel> tls;
    if (tls_ != nullptr) tls = std::make_unique<TlsChannel>(*tls_, socket, caller.address);
    return new WatchedConnection(socket, watch_, caller, std::move(ticket), std::move(tls));
}

// ---------------------------------------------------------------------------

namespace {

// The first byte of a P-DATA-TF, the only message that carries a C-CANCEL-RQ.
constexpr unsigned char kDataPdu = 0x04;

// What the bytes waiting on a caller's socket say; nullopt when nothing is
// there after all.
std::optional<CallerSpeech> SpeechOn(int socket, short revents, bool peekable) {
    if (!peekable) {
        // What came cannot be read without taking it: only a closed
        // connection is told apart.
        const bool closed = (revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
        return closed ? CallerSpeech::End : CallerSpeech::Cancel;
    }
    unsigned char type = 0;
    for (;;) {
        const ssize_t got = ::recv(socket, &type, 1, MSG_PEEK | MSG_DONTWAIT);
        // A release request, an A-ABORT, or bytes no caller may send now
        // (DCMTK aborts the association on those when it reads them).
        if (got == 1) return type == kDataPdu ? CallerSpeech::Cancel : CallerSpeech::End;
        if (got == 0) return CallerSpeech::End;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return std::nullopt;
        return CallerSpeech::End;  // reset, or cut by the listener's stop
    }
}

}  // namespace

CallerWatch::CallerWatch(int socket, bool peekable, std::function<void(CallerSpeech)> heard)
    : socket_(socket),
      peekable_(peekable),
      heard_(std::move(heard)),
      wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (socket_ < 0 || !wake_.IsOpen()) return;
    try {
        thread_ = std::thread([this] { Listen(); });
    } catch (const std::system_error&) {
        // Out of threads: the request goes on unwatched.
    }
}

CallerWatch::~CallerWatch() {
    if (!thread_.joinable()) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_.Get(), &one, sizeof one);
    thread_.join();
}

void CallerWatch::Listen() const {
    pollfd fds[2] = {{wake_.Get(), POLLIN, 0}, {socket_, POLLIN | POLLRDHUP, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents != 0) return;
        if (fds[1].revents == 0) continue;
        const std::optional<CallerSpeech> speech = SpeechOn(socket_, fds[1].revents, peekable_);
        if (!speech) continue;
        // What came stays unread, and would wake every poll from now on.
        heard_(*speech);
        return;
    }
}

}  // namespace lumo::dicom::detail
