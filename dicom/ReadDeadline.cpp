#include "dicom/ReadDeadline.h"

#include <dcmtk/dcmnet/dcmtrans.h>

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>

#include "dicom/SocketOptions.h"

namespace lumo::dicom::detail {

namespace {

using std::chrono::milliseconds;

// A TCP connection whose reads end at the deadline and whose waits a stop
// cuts short. A read takes what the socket holds at once; only when it holds
// nothing does it wait, on the socket and on the stop's wake-up together.
// Every byte read goes past the watch. Owned by DCMTK's association; used on
// the exchange's thread.
class DeadlineConnection : public DcmTCPConnection {
  public:
    DeadlineConnection(DcmNativeSocketType socket, ReadDeadline& deadline, PeerWatch& watch,
                       ExchangeStop& stop)
        : DcmTCPConnection(socket), deadline_(deadline), watch_(watch), stop_(stop) {
        stop_.SetSocket(socket);
    }

    ssize_t read(void* buf, size_t nbyte) override {
        while (true) {
            if (stop_.Handle(deadline_) == ExchangeStop::Action::GiveUp) return Failed(ECANCELED);
            const milliseconds left = deadline_.Left();
            if (left <= milliseconds(0)) return Expired();
            const ssize_t got = ::recv(getSocket(), buf, nbyte, MSG_DONTWAIT);
            if (got >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                watch_.Read(buf, got);
                return got;
            }
            Wait(left);
        }
    }

    // DCMTK's own wait, in whole seconds, before it reads without blocking;
    // a wait it has already used up (a negative one) waits no more.
    OFBool networkDataAvailable(int timeout) override {
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

  private:
    ssize_t Failed(int error) {
        errno = error;
        return -1;
    }

    ssize_t Expired() {
        deadline_.Expire();
        return Failed(ETIMEDOUT);
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
    if (useSecureLayer) return nullptr;  // never asked for: the console speaks plain TCP
    deadline_.Start(negotiation_);
    watch_.Connected();
    SendAtOnce(openSocket);
    // DCMTK owns the connection from here and deletes it with the association.
    return std::make_unique<DeadlineConnection>(openSocket, deadline_, watch_, stop_).release();
}

}  // namespace lumo::dicom::detail
