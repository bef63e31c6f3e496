#include "dicom/ReadDeadline.h"

#include <dcmtk/dcmnet/dcmtrans.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>

#include "dicom/SocketOptions.h"

namespace lumo::dicom::detail {

namespace {

using std::chrono::milliseconds;

// How far past the deadline a blocking read may end: the socket's own bound
// is set again only when it would overshoot by more, so that a listing whose
// responses come quickly reads with one system call per read.
constexpr milliseconds kSlack{250};

// A TCP connection whose reads end at the deadline. Reads block, bounded by
// the socket's receive timeout, which follows what is left of the stage;
// every byte read goes past the watch. Owned by DCMTK's association; used on
// the exchange's thread.
class DeadlineConnection : public DcmTCPConnection {
  public:
    DeadlineConnection(DcmNativeSocketType socket, ReadDeadline& deadline, PeerWatch& watch)
        : DcmTCPConnection(socket), deadline_(deadline), watch_(watch) {}

    ssize_t read(void* buf, size_t nbyte) override {
        while (true) {
            const milliseconds left = deadline_.Left();
            if (left <= milliseconds(0)) return Expired();
            if (!BoundReads(left) && !Readable(left)) continue;
            const ssize_t got = DcmTCPConnection::read(buf, nbyte);
            watch_.Read(buf, got);
            if (got >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return got;
            // The socket's bound ran out: the deadline has passed, or the
            // bound was one of a shorter stage and is set again.
            bound_ = milliseconds(0);
        }
    }

    // DCMTK's own wait, in whole seconds, before it reads without blocking;
    // a wait it has already used up (a negative one) waits no more.
    OFBool networkDataAvailable(int timeout) override {
        const milliseconds left = deadline_.Left();
        if (left <= milliseconds(0)) {
            deadline_.Expire();
            return OFFalse;
        }
        const milliseconds wait = std::chrono::seconds(std::max(timeout, 0));
        const bool readable = Readable(std::min(left, wait));
        if (!readable && deadline_.Left() <= milliseconds(0)) deadline_.Expire();
        return readable ? OFTrue : OFFalse;
    }

  private:
    ssize_t Expired() {
        deadline_.Expire();
        errno = ETIMEDOUT;
        return -1;
    }

    // Sets the socket's receive timeout to what is left when the one it has
    // would end the read too late. False when it cannot be set.
    bool BoundReads(milliseconds left) {
        if (bound_ > milliseconds(0) && bound_ <= left + kSlack) return true;
        timeval bound{};
        bound.tv_sec = static_cast<time_t>(left.count() / 1000);
        bound.tv_usec = static_cast<suseconds_t>(left.count() % 1000 * 1000);
        if (::setsockopt(getSocket(), SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound) != 0)
            return false;
        bound_ = left;
        return true;
    }

    // Waits at most `wait` for bytes to read; true when there are some.
    bool Readable(milliseconds wait) {
        pollfd fd{getSocket(), POLLIN, 0};
        int rc = 0;
        do {
            rc = ::poll(&fd, 1,
                        static_cast<int>(std::min<milliseconds::rep>(wait.count(), INT_MAX)));
        } while (rc < 0 && errno == EINTR);
        return rc > 0;
    }

    ReadDeadline& deadline_;
    PeerWatch& watch_;
    milliseconds bound_{0};  // the socket's receive timeout; 0: none set yet
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
    return std::make_unique<DeadlineConnection>(openSocket, deadline_, watch_).release();
}

}  // namespace lumo::dicom::detail
