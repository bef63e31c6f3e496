#include "dicom/net/detail/ReadDeadline.h"

#include <dcmtk/dcmnet/cond.h>
#include <dcmtk/dcmnet/dcmtrans.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <utility>

#include "dicom/net/detail/SocketOptions.h"
#include "dicom/net/detail/TlsChannel.h"

namespace lumo::dicom::detail {

namespace {

using std::chrono::milliseconds;

// The address this side has on a connected socket, dotted.
std::string LocalAddressOf(int socket) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
    char text[INET6_ADDRSTRLEN] = {};
    const void* bytes =
        address.ss_family == AF_INET6
            ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(&address)->sin6_addr)
            : &reinterpret_cast<const sockaddr_in*>(&address)->sin_addr;
    if (::inet_ntop(address.ss_family, bytes, text, sizeof text) == nullptr) return {};
    return text;
}

// Writes all of `bytes` on a plain socket unless the connection fails or the
// deadline passes first; what the node makes of it, the reads that follow
// tell.
void SendAll(int socket, const std::string& bytes, const ReadDeadline& deadline) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        const ssize_t sent =
            ::send(socket, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            at += static_cast<std::size_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR) continue;
        if (sent == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return;
        const milliseconds left = deadline.Left();
        if (left <= milliseconds(0)) return;
        pollfd fd{socket, POLLOUT, 0};
        ::poll(&fd, 1, static_cast<int>(std::min<milliseconds::rep>(left.count(), INT_MAX)));
    }
}

// A TCP connection, TLS-protected or not, whose reads end at the deadline
// and whose waits a stop cuts short. A read takes what the connection holds
// at once; only when it holds nothing does it wait, on the socket and on
// the stop's wake-up together. Every byte read goes past the watch; the
// TLS handshake is held to the negotiation's deadline, and what TLS settled
// or why it failed goes into the report. Plain TCP reads go through a
// buffer of its own, so that a message's few PDUs cost one receive. Owned by
// DCMTK's association; used on the exchange's thread.
class DeadlineConnection : public DcmTCPConnection {
  public:
    DeadlineConnection(DcmNativeSocketType socket, ReadDeadline& deadline, PeerWatch& watch,
                       ExchangeStop& stop, std::unique_ptr<TlsChannel> tls, TlsReport* report,
                       milliseconds writeBound, bool ackAtOnce)
        : DcmTCPConnection(socket),
          deadline_(deadline),
          watch_(watch),
          stop_(stop),
          tls_(std::move(tls)),
          report_(report),
          writeBound_(writeBound),
          ackAtOnce_(ackAtOnce) {
        if (tls_) {
            stop_.SetWriter([this](const std::string& bytes, const ReadDeadline&) {
                WriteAll(bytes.data(), bytes.size());
            });
        } else {
            stop_.SetWriter([socket](const std::string& bytes, const ReadDeadline& bound) {
                SendAll(socket, bytes, bound);
            });
        }
    }
    ~DeadlineConnection() override { stop_.SetWriter(nullptr); }
    DeadlineConnection(const DeadlineConnection&) = delete;
    DeadlineConnection& operator=(const DeadlineConnection&) = delete;

    OFCondition clientSideHandshake() override {
        if (!tls_) return EC_Normal;
        while (true) {
            if (stop_.Handle(deadline_) == ExchangeStop::Action::GiveUp)
                return TlsFailed("stopped during the TLS handshake");
            const milliseconds left = deadline_.Left();
            if (left <= milliseconds(0)) {
                deadline_.Expire();
                return TlsFailed(
                    "no TLS handshake with the node within " +
                    std::to_string(std::chrono::ceil<std::chrono::seconds>(writeBound_).count()) +
                    " s: is this port a TLS port?");
            }
            const TlsStep step = tls_->Handshake();
            if (step == TlsStep::Done) {
                watch_.TlsEstablished();
                if (report_ != nullptr) tls_->Describe(*report_);
                return EC_Normal;
            }
            if (step == TlsStep::Closed || step == TlsStep::Failed) {
                if (step == TlsStep::Closed) watch_.Read(nullptr, 0);
                return TlsFailed(tls_->Failure(true));
            }
            WaitForSocket(getSocket(), step, stop_.Raised() ? -1 : stop_.WakeFd(), left);
        }
    }

    ssize_t read(void* buf, size_t nbyte) override {
        while (true) {
            if (stop_.Handle(deadline_) == ExchangeStop::Action::GiveUp) return Failed(ECANCELED);
            const milliseconds left = deadline_.Left();
            if (left <= milliseconds(0)) return Expired();
            if (tls_) {
                std::size_t got = 0;
                const TlsStep step = tls_->Read(buf, nbyte, got);
                if (step == TlsStep::Done) {
                    watch_.Read(buf, static_cast<ssize_t>(got));
                    return static_cast<ssize_t>(got);
                }
                if (step == TlsStep::Closed) {
                    watch_.Read(buf, 0);
                    return 0;
                }
                if (step == TlsStep::Failed) {
                    NoteTlsFailure(tls_->Failure(false));
                    return Failed(ECONNRESET);
                }
                WaitForSocket(getSocket(), step, stop_.Raised() ? -1 : stop_.WakeFd(), left);
                continue;
            }
            if (handed_ < held_) return Hand(buf, nbyte);
            if (drained_) {
                // Nothing more has come: the node may be holding the rest
                // of a message until this side acknowledges what it read
                // (Nagle's algorithm), so the acknowledgement goes now —
                // unless a write since the last receive carried it.
                drained_ = false;
                if (ackAtOnce_ && unacknowledged_) AckAtOnce(getSocket());
                unacknowledged_ = false;
                Wait(left);
                continue;
            }
            // DCMTK reads a PDU's header, then its body, then the next
            // header: one receive takes what has come of all of them, and a
            // large body goes straight where DCMTK wants it.
            const bool direct = nbyte >= kHeld;
            if (!direct && !heldBytes_) heldBytes_ = std::make_unique<char[]>(kHeld);
            char* into = direct ? static_cast<char*>(buf) : heldBytes_.get();
            const std::size_t asked = direct ? nbyte : kHeld;
            const ssize_t got = ::recv(getSocket(), into, asked, MSG_DONTWAIT);
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
                drained_ = errno != EINTR;
                continue;
            }
            watch_.Read(into, got);
            if (got <= 0) return got;
            unacknowledged_ = true;
            // Less than asked: the socket is empty, the next read waits.
            drained_ = static_cast<std::size_t>(got) < asked;
            if (direct) return got;
            handed_ = 0;
            held_ = static_cast<std::size_t>(got);
            return Hand(buf, nbyte);
        }
    }

    ssize_t write(void* buf, size_t nbyte) override {
        if (!tls_) return Gather(static_cast<const char*>(buf), nbyte);
        return WriteAll(buf, nbyte) ? static_cast<ssize_t>(nbyte) : -1;
    }

    // DCMTK's own wait, in whole seconds, before it reads without blocking;
    // a wait it has already used up (a negative one) waits no more.
    OFBool networkDataAvailable(int timeout) override {
        if ((tls_ && tls_->Pending()) || handed_ < held_) return OFTrue;
        const auto end =
            std::chrono::steady_clock::now() + std::chrono::seconds(std::max(timeout, 0));
        while (true) {
            if (stop_.Handle(deadline_) == ExchangeStop::Action::GiveUp) return OFFalse;
            const milliseconds left = deadline_.Left();
            if (left <= milliseconds(0)) {
                deadline_.Expire();
                return OFFalse;
            }
            const auto wait =
                std::chrono::duration_cast<milliseconds>(end - std::chrono::steady_clock::now());
            if (Wait(std::max(std::min(left, wait), milliseconds(0)))) return OFTrue;
            // Woken early by a stop: it is handled above, and the wait goes on.
            if (std::chrono::steady_clock::now() >= end) return OFFalse;
        }
    }

    void close() override {
        if (tls_) tls_->Close();
        DcmTCPConnection::close();
    }

    // Bytes held here are not seen by a select on the socket.
    OFBool isTransparentConnection() override { return tls_ || handed_ < held_ ? OFFalse : OFTrue; }

  private:
    static constexpr std::size_t kHeld = 64 * 1024;
    static constexpr std::size_t kPduHeader = 6;
    static constexpr std::size_t kGathered = 16 * 1024;

    ssize_t Hand(void* buf, std::size_t nbyte) {
        const std::size_t count = std::min(nbyte, held_ - handed_);
        std::memcpy(buf, heldBytes_.get() + handed_, count);
        handed_ += count;
        return static_cast<ssize_t>(count);
    }

    // DCMTK writes a PDU in pieces (its header with the first PDV's, then
    // the PDV's bytes): a small PDU is gathered here and goes in one send,
    // so that the node finds it whole in one segment, not a header it must
    // wait past. The PDUs are followed by their lengths; a write that does
    // not begin with a whole PDU header where one is due ends the gathering
    // for good. Nothing is read between the pieces of one PDU, so a cancel
    // never lands inside one.
    ssize_t Gather(const char* buf, std::size_t nbyte) {
        if (!inStep_) return Send(buf, nbyte);
        if (pduLeft_ == 0) {
            if (nbyte < kPduHeader) {
                inStep_ = false;
                return Send(buf, nbyte);
            }
            const auto byte = [&](int i) { return static_cast<std::size_t>(buf[i] & 0xFF); };
            pduLeft_ = kPduHeader + (byte(2) << 24 | byte(3) << 16 | byte(4) << 8 | byte(5));
            gathering_ = nbyte < pduLeft_ && pduLeft_ <= kGathered;
            gathered_.clear();
        }
        if (nbyte > pduLeft_) {
            // More than the PDU holds: not the pieces of one PDU after all.
            inStep_ = false;
            if (gathering_ && !SendWhole(gathered_)) return -1;
            return Send(buf, nbyte);
        }
        if (!gathering_) {
            const ssize_t sent = Send(buf, nbyte);
            if (sent > 0) pduLeft_ -= static_cast<std::size_t>(sent);
            return sent;
        }
        gathered_.append(buf, nbyte);
        pduLeft_ -= nbyte;
        if (pduLeft_ > 0) return static_cast<ssize_t>(nbyte);
        return SendWhole(gathered_) ? static_cast<ssize_t>(nbyte) : -1;
    }

    ssize_t Send(const char* buf, std::size_t nbyte) {
        ssize_t sent = 0;
        do {
            sent = ::send(getSocket(), buf, nbyte, MSG_NOSIGNAL);
        } while (sent < 0 && errno == EINTR);
        if (sent > 0) unacknowledged_ = false;
        return sent;
    }

    bool SendWhole(const std::string& bytes) {
        for (std::size_t at = 0; at < bytes.size();) {
            const ssize_t sent = Send(bytes.data() + at, bytes.size() - at);
            if (sent <= 0) return false;
            at += static_cast<std::size_t>(sent);
        }
        return true;
    }

    ssize_t Failed(int error) {
        errno = error;
        return -1;
    }

    ssize_t Expired() {
        deadline_.Expire();
        return Failed(ETIMEDOUT);
    }

    void NoteTlsFailure(const std::string& why) {
        if (report_ != nullptr && report_->failure.empty()) report_->failure = why;
    }

    // A node that refuses our certificate (or its absence) says so in an
    // alert after a TLS 1.3 handshake, then closes: the write that follows
    // may fail before any read, while the alert waits unread.
    void NoteWriteFailure(TlsStep step) {
        if (step == TlsStep::Failed) NoteTlsFailure(tls_->Failure(false));
        char unread[512];
        std::size_t got = 0;
        if (tls_->Read(unread, sizeof unread, got) == TlsStep::Failed)
            NoteTlsFailure(tls_->Failure(false));
    }

    OFCondition TlsFailed(const std::string& why) {
        NoteTlsFailure(why);
        return makeDcmnetCondition(DULC_TLSERROR, OF_error, why.c_str());
    }

    // All of the bytes through TLS, unless the connection fails or the node
    // takes nothing for a whole write bound.
    bool WriteAll(const void* buf, std::size_t nbyte) {
        const TlsStep step = tls_->WriteAll(buf, nbyte, writeBound_);
        if (step == TlsStep::Done) return true;
        if (step == TlsStep::Closed || step == TlsStep::Failed) {
            NoteWriteFailure(step);
            errno = EPIPE;
        } else {
            errno = ETIMEDOUT;
        }
        return false;
    }

    // Waits at most `wait` for bytes to read, or for a stop not yet seen;
    // true when the socket has something (or has ended).
    bool Wait(milliseconds wait) {
        pollfd fds[2] = {{getSocket(), POLLIN, 0}, {stop_.WakeFd(), POLLIN, 0}};
        // Once raised, the wake-up stays readable: it has said what it had to.
        const nfds_t count = stop_.Raised() || stop_.WakeFd() < 0 ? 1 : 2;
        int rc = 0;
        do {
            rc = ::poll(fds, count,
                        static_cast<int>(std::min<milliseconds::rep>(wait.count(), INT_MAX)));
        } while (rc < 0 && errno == EINTR);
        return rc > 0 && fds[0].revents != 0;
    }

    ReadDeadline& deadline_;
    PeerWatch& watch_;
    ExchangeStop& stop_;
    const std::unique_ptr<TlsChannel> tls_;
    TlsReport* const report_;
    const milliseconds writeBound_;
    const bool ackAtOnce_;
    // What a receive took beyond the read that asked for it (plain TCP).
    std::unique_ptr<char[]> heldBytes_;
    std::size_t held_ = 0;
    std::size_t handed_ = 0;
    bool drained_ = true;  // the last receive emptied the socket
    // Bytes received since the last send, whose acknowledgement may wait.
    bool unacknowledged_ = false;
    // The PDU being written (plain TCP): what it still lacks, whether it is
    // gathered, its pieces so far; and whether the writes have kept to PDUs.
    std::size_t pduLeft_ = 0;
    bool gathering_ = false;
    std::string gathered_;
    bool inStep_ = true;
};

}  // namespace

void ReadDeadline::Start(milliseconds bound) {
    end_ = std::chrono::steady_clock::now() + bound;
    expired_ = false;
}

milliseconds ReadDeadline::Left() const {
    return std::chrono::duration_cast<milliseconds>(end_ - std::chrono::steady_clock::now());
}

DcmTransportConnection* DeadlineTransport::createConnection(DcmNativeSocketType openSocket,
                                                            OFBool useSecureLayer) {
    // The association asks for TLS exactly when the transport was given it.
    if (static_cast<bool>(useSecureLayer) != (tls_ != nullptr)) return nullptr;
    deadline_.Start(negotiation_);
    watch_.Connected();
    localAddress_ = LocalAddressOf(openSocket);
    SendAtOnce(openSocket);
    std::unique_ptr<TlsChannel> tls;
    if (tls_ != nullptr) tls = std::make_unique<TlsChannel>(*tls_, openSocket, peerAddress_);
    // DCMTK owns the connection from here and deletes it with the association.
    return std::make_unique<DeadlineConnection>(openSocket, deadline_, watch_, stop_,
                                                std::move(tls), tlsReport_, negotiation_,
                                                ackAtOnce_)
        .release();
}

}  // namespace lumo::dicom::detail
