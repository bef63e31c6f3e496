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

struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};

std::string NameText(const X509_NAME* name) {
    std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
    if (!bio || name == nullptr) return {};
    X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(std::max(length, 0L)));
}

std::string TimeText(const ASN1_TIME* time) {
    std::tm tm{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &tm) != 1) return {};
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return text;
}

// The names a certificate is issued for: its subject alternative names,
// or its common name when it has none.
std::string IssuedFor(X509* cert) {
    std::string names;
    auto* alternatives =
        static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr));
    for (int i = 0; alternatives != nullptr && i < sk_GENERAL_NAME_num(alternatives); ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(alternatives, i);
        std::string one;
        if (name->type == GEN_DNS) {
            const ASN1_STRING* dns = name->d.dNSName;
            one.assign(reinterpret_cast<const char*>(ASN1_STRING_get0_data(dns)),
                       static_cast<std::size_t>(ASN1_STRING_length(dns)));
        } else if (name->type == GEN_IPADD) {
            const ASN1_OCTET_STRING* ip = name->d.iPAddress;
            char text[INET6_ADDRSTRLEN] = {};
            const int family = ASN1_STRING_length(ip) == 4 ? AF_INET : AF_INET6;
            if (inet_ntop(family, ASN1_STRING_get0_data(ip), text, sizeof text)) one = text;
        }
        if (one.empty()) continue;
        names += (names.empty() ? "" : ", ") + one;
    }
    GENERAL_NAMES_free(alternatives);
    if (!names.empty()) return names;
    char common[256] = {};
    X509_NAME_get_text_by_NID(X509_get_subject_name(cert), NID_commonName, common, sizeof common);
    return common;
}

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
    const TlsVerify verify = context.Settings().verify;
    const bool chain = verify != TlsVerify::Ignore;
    if (context.Side() == TlsSide::Acceptor) {
        SSL_set_verify(ssl_, chain ? SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT : 0,
                       VerifyCallback);
        SSL_set_accept_state(ssl_);
        return;
    }
    SSL_set_verify(ssl_, chain ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, VerifyCallback);
    const bool address = IsAddress(peerAddress);
    if (!address) SSL_set_tlsext_host_name(ssl_, peerAddress.c_str());
    if (verify == TlsVerify::Require) {
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
    if (fault_.error != X509_V_OK) return;
    fault_.error = error;
    if (auto* own = static_cast<X509*>(leaf)) {
        fault_.leafSubject = NameText(X509_get_subject_name(own));
        fault_.leafIssuer = NameText(X509_get_issuer_name(own));
    }
    auto* cert = static_cast<X509*>(certificate);
    if (cert == nullptr) return;
    fault_.subject = NameText(X509_get_subject_name(cert));
    fault_.issuer = NameText(X509_get_issuer_name(cert));
    fault_.notBefore = TimeText(X509_get0_notBefore(cert));
    fault_.notAfter = TimeText(X509_get0_notAfter(cert));
    fault_.names = IssuedFor(cert);
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

void TlsChannel::Describe(TlsReport& report) const {
    if (ssl_ == nullptr) return;
    report.established = true;
    report.nameNotChecked =
        context_.Side() == TlsSide::Requestor && context_.Settings().verify == TlsVerify::Chain;
    report.protocol = SSL_get_version(ssl_);
    if (const SSL_CIPHER* cipher = SSL_get_current_cipher(ssl_))
        report.cipherSuite = SSL_CIPHER_standard_name(cipher);
    X509* cert = SSL_get1_peer_certificate(ssl_);
    if (cert == nullptr) return;
    report.peerSubject = NameText(X509_get_subject_name(cert));
    report.peerIssuer = NameText(X509_get_issuer_name(cert));
    report.peerNotBefore = TimeText(X509_get0_notBefore(cert));
    report.peerNotAfter = TimeText(X509_get0_notAfter(cert));
    X509_free(cert);
}

std::string TlsChannel::FirstName() const {
    return fault_.names.substr(0, fault_.names.find(", "));
}

std::string TlsChannel::Other() const {
    return context_.Side() == TlsSide::Requestor ? "the node" : "the caller";
}

std::string TlsChannel::CertificateFailure() const {
    const bool node = context_.Side() == TlsSide::Requestor;
    const std::string whose =
        std::string(node ? "the node's" : "the caller's") + " certificate (" + fault_.subject + ")";
    switch (fault_.error) {
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return whose + " expired on " + fault_.notAfter;
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return whose + " is not valid before " + fault_.notBefore;
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            // Two ways out: the name the certificate gives, or no name check.
            return whose + " is issued for " + fault_.names + ", not for " + peerAddress_ +
                   ": call the node by the name in its certificate (--ip " + FirstName() +
                   "), or check its chain only (--tls-verify chain)";
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_CERT_UNTRUSTED:
            // Said of the other side's own certificate: its chain is what
            // nobody here trusts, whichever link OpenSSL stopped at.
            return std::string(node ? "the node's" : "the caller's") + " certificate (" +
                   fault_.leafSubject + ", issued by " + fault_.leafIssuer + ") is not trusted: " +
                   (node ? "add its issuer's certificate to the trusted certificates (--tls-ca), "
                           "or do not verify it (--tls-verify ignore)"
                         : "add its issuer's certificate to the trusted certificates "
                           "(--listen-ca)");
        default:
            return whose + " is refused: " + X509_verify_cert_error_string(fault_.error);
    }
}

std::string TlsChannel::Failure(bool handshaking) const {
    const bool node = context_.Side() == TlsSide::Requestor;
    if (fault_.error != X509_V_OK && context_.Settings().verify != TlsVerify::Ignore)
        return CertificateFailure();
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
    const int reason = ERR_GET_REASON(sslError_);
    const bool ownCertificate = context_.HasCertificate();
    switch (reason) {
        case SSL_R_WRONG_VERSION_NUMBER:
        case SSL_R_PACKET_LENGTH_TOO_LONG:
        case SSL_R_RECORD_LENGTH_MISMATCH:
        case SSL_R_HTTP_REQUEST:
        case SSL_R_UNKNOWN_PROTOCOL:
            return Other() + (node ? " answered without TLS: is this port a TLS port?"
                                   : " spoke without TLS (plain DICOM?) to a TLS port");
        case SSL_R_TLSV13_ALERT_CERTIFICATE_REQUIRED:
        case SSL_R_PEER_DID_NOT_RETURN_A_CERTIFICATE:
            return node ? "the node requires a client certificate: give one with --tls-cert and "
                          "--tls-key"
                        : "the caller gave no certificate, and this listener requires one";
        case SSL_R_SSLV3_ALERT_HANDSHAKE_FAILURE:
            if (node && !ownCertificate)
                return "the node refused the TLS handshake: it may require a client certificate "
                       "(--tls-cert, --tls-key), or share no cipher suite with profile " +
                       std::string(TlsProfileName(context_.Settings().profile));
            return Other() + " refused the TLS handshake: no cipher suite in common with profile " +
                   TlsProfileName(context_.Settings().profile);
        case SSL_R_TLSV1_ALERT_UNKNOWN_CA:
        case SSL_R_SSLV3_ALERT_BAD_CERTIFICATE:
        case SSL_R_SSLV3_ALERT_CERTIFICATE_UNKNOWN:
        case SSL_R_SSLV3_ALERT_UNSUPPORTED_CERTIFICATE:
        case SSL_R_SSLV3_ALERT_CERTIFICATE_EXPIRED:
        case SSL_R_SSLV3_ALERT_CERTIFICATE_REVOKED:
        case SSL_R_TLSV1_ALERT_ACCESS_DENIED:
            return Other() + " does not accept our certificate (" +
                   context_.Settings().certificateFile + "): its TLS alert says \"" +
                   ERR_reason_error_string(sslError_) + "\"";
        case SSL_R_NO_SHARED_CIPHER:
        case SSL_R_UNSUPPORTED_PROTOCOL:
        case SSL_R_NO_PROTOCOLS_AVAILABLE:
        case SSL_R_VERSION_TOO_LOW:
        case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
        case SSL_R_TLSV1_ALERT_INSUFFICIENT_SECURITY:
            return "no TLS version or cipher suite in common with " + Other() + " (profile " +
                   TlsProfileName(context_.Settings().profile) + ")";
        default: {
            const char* text = ERR_reason_error_string(sslError_);
            return std::string("TLS error: ") + (text != nullptr ? text : "unknown");
        }
    }
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
