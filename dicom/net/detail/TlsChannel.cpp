#include "dicom/net/detail/TlsChannel.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <memory>

#include "dicom/net/detail/TlsContext.h"

namespace lumo::dicom::detail {

namespace {

int VerifyCallback(int ok, X509_STORE_CTX* store) {
    if (ok == 1) return ok;
    auto* ssl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    if (auto* channel = static_cast<TlsChannel*>(SSL_get_app_data(ssl)))
        channel->NoteFault(X509_STORE_CTX_get_error(store), X509_STORE_CTX_get_current_cert(store),
                           X509_STORE_CTX_get0_cert(store));
    return ok;
}

bool IsAddress(const std::string& text) {
    unsigned char buffer[16];
    return inet_pton(AF_INET, text.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

}  // namespace

TlsChannel::TlsChannel(const TlsContext& context, int socket, const std::string& peerAddress)
    : context_(context),
      peerAddress_(peerAddress),
      socket_(socket),
      ssl_(SSL_new(context.Native())) {
    const int flags = ::fcntl(socket, F_GETFL);
    if (flags >= 0) ::fcntl(socket, F_SETFL, flags | O_NONBLOCK);
    if (ssl_ == nullptr) return;
    SSL_set_fd(ssl_, socket);
    SSL_set_app_data(ssl_, this);
    const bool require = context.Settings().verify == TlsVerify::Require;
    if (context.Side() == TlsSide::Acceptor) {
        SSL_set_verify(ssl_, require ? SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT : 0,
                       VerifyCallback);
        SSL_set_accept_state(ssl_);
        return;
    }
    SSL_set_verify(ssl_, require ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, VerifyCallback);
    const bool address = IsAddress(peerAddress);
    if (!address) SSL_set_tlsext_host_name(ssl_, peerAddress.c_str());
    if (require) {
        X509_VERIFY_PARAM* param = SSL_get0_param(ssl_);
        if (address) {
            X509_VERIFY_PARAM_set1_ip_asc(param, peerAddress.c_str());
        } else {
            X509_VERIFY_PARAM_set1_host(param, peerAddress.c_str(), 0);
        }
    }
    SSL_set_connect_state(ssl_);
}

TlsChannel::~TlsChannel() { SSL_free(ssl_); }

void TlsChannel::NoteFault(int error, void* certificate, void* leaf) {
    fault_.Note(error, static_cast<X509*>(certificate), static_cast<X509*>(leaf));
}

TlsStep TlsChannel::StepOf(int result) {
    if (result > 0) return TlsStep::Done;
    const int error = SSL_get_error(ssl_, result);
    sysError_ = errno;
    sslError_ = ERR_peek_error();
    ERR_clear_error();
    switch (error) {
        case SSL_ERROR_WANT_READ:
            return TlsStep::WantRead;
        case SSL_ERROR_WANT_WRITE:
            return TlsStep::WantWrite;
        case SSL_ERROR_ZERO_RETURN:
            return TlsStep::Closed;
        case SSL_ERROR_SYSCALL:
            if (sslError_ != 0) return TlsStep::Failed;
            // A connection the other side ended without a TLS goodbye.
            closedAbruptly_ = true;
            if (result == 0 || sysError_ == ECONNRESET || sysError_ == EPIPE)
                return TlsStep::Closed;
            return TlsStep::Failed;
        default:
            if (ERR_GET_REASON(sslError_) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
                closedAbruptly_ = true;
                return TlsStep::Closed;
            }
            return TlsStep::Failed;
    }
}

TlsStep TlsChannel::Handshake() {
    if (ssl_ == nullptr) return TlsStep::Failed;
    return StepOf(SSL_do_handshake(ssl_));
}

TlsStep TlsChannel::Read(void* buffer, std::size_t size, std::size_t& got) {
    got = 0;
    if (ssl_ == nullptr) return TlsStep::Failed;
    const TlsStep step = StepOf(SSL_read_ex(ssl_, buffer, size, &got));
    return step;
}

TlsStep TlsChannel::Write(const void* buffer, std::size_t size, std::size_t& put) {
    put = 0;
    if (ssl_ == nullptr) return TlsStep::Failed;
    return StepOf(SSL_write_ex(ssl_, buffer, size, &put));
}

TlsStep TlsChannel::WriteAll(const void* buffer, std::size_t size, std::chrono::milliseconds wait) {
    const auto* bytes = static_cast<const char*>(buffer);
    std::size_t at = 0;
    while (at < size) {
        std::size_t put = 0;
        const TlsStep step = Write(bytes + at, size - at, put);
        if (step == TlsStep::Done) {
            at += put;
        } else if (step == TlsStep::Closed || step == TlsStep::Failed ||
                   !WaitForSocket(socket_, step, -1, wait)) {
            return step;
        }
    }
    return TlsStep::Done;
}

bool TlsChannel::Pending() const { return ssl_ != nullptr && SSL_pending(ssl_) > 0; }

void TlsChannel::Close() noexcept {
    if (ssl_ == nullptr || !SSL_is_init_finished(ssl_)) return;
    SSL_shutdown(ssl_);
    ERR_clear_error();
}

void TlsChannel::Describe(TlsReport& report) const { DescribeTlsSession(ssl_, report); }

std::string TlsChannel::Other() const {
    return context_.Side() == TlsSide::Requestor ? "the node" : "the caller";
}

TlsSideFacts TlsChannel::SideFacts() const {
    return {context_.Side() == TlsSide::Requestor, peerAddress_,
            context_.Settings().certificateFile, TlsProfileName(context_.Settings().profile)};
}

std::string TlsChannel::Failure(bool handshaking) const {
    const bool node = context_.Side() == TlsSide::Requestor;
    if (fault_.Noted() && context_.Settings().verify == TlsVerify::Require)
        return CertificateFaultText(fault_, SideFacts());
    if (closedAbruptly_ && handshaking)
        return Other() + " closed the connection during the TLS handshake: " +
               (node ? "is this port a TLS port, and does the node take this TLS profile ("
                     : "does it speak TLS with this listener's profile (") +
               TlsProfileName(context_.Settings().profile) + ")?";
    if (sslError_ == 0) {
        if (sysError_ != 0)
            return std::string("TLS connection failed: ") + std::strerror(sysError_);
        return Other() + " closed the TLS connection";
    }
    return TlsErrorText(sslError_, SideFacts());
}

bool WaitForSocket(int socket, TlsStep step, int wakeFd, std::chrono::milliseconds wait) {
    const short events = step == TlsStep::WantWrite ? POLLOUT : POLLIN;
    pollfd fds[2] = {{socket, events, 0}, {wakeFd, POLLIN, 0}};
    const nfds_t count = wakeFd < 0 ? 1 : 2;
    const auto ms = std::clamp<std::chrono::milliseconds::rep>(wait.count(), 0, INT_MAX);
    int rc = 0;
    do {
        rc = ::poll(fds, count, static_cast<int>(ms));
    } while (rc < 0 && errno == EINTR);
    return rc > 0 && fds[0].revents != 0;
}

}  // namespace lumo::dicom::detail
