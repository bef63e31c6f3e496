#include "dicom/net/detail/TlsWords.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <ctime>
#include <memory>

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

std::string Other(const TlsSideFacts& side) { return side.node ? "the node" : "the caller"; }

}  // namespace

void CertificateFault::Note(int verifyError, x509_st* certificate, x509_st* leaf) {
    if (error != X509_V_OK) return;
    error = verifyError;
    if (leaf != nullptr) {
        leafSubject = NameText(X509_get_subject_name(leaf));
        leafIssuer = NameText(X509_get_issuer_name(leaf));
    }
    if (certificate == nullptr) return;
    subject = NameText(X509_get_subject_name(certificate));
    issuer = NameText(X509_get_issuer_name(certificate));
    notBefore = TimeText(X509_get0_notBefore(certificate));
    notAfter = TimeText(X509_get0_notAfter(certificate));
    names = IssuedFor(certificate);
}

std::string CertificateFaultText(const CertificateFault& fault, const TlsSideFacts& side) {
    const bool node = side.node;
    const std::string whose =
        std::string(node ? "the node's" : "the caller's") + " certificate (" + fault.subject + ")";
    switch (fault.error) {
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return whose + " expired on " + fault.notAfter;
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return whose + " is not valid before " + fault.notBefore;
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return whose + " is issued for " + fault.names + ", not for " + side.peerAddress;
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_CERT_UNTRUSTED:
            // Said of the other side's own certificate: its chain is what
            // nobody here trusts, whichever link OpenSSL stopped at.
            return std::string(node ? "the node's" : "the caller's") + " certificate (" +
                   fault.leafSubject + ", issued by " + fault.leafIssuer + ") is not trusted: " +
                   (node ? "add its issuer's certificate to the trusted certificates (--tls-ca), "
                           "or do not verify it (--tls-verify ignore)"
                         : "add its issuer's certificate to the trusted certificates "
                           "(--listen-ca)");
        default:
            return whose + " is refused: " + X509_verify_cert_error_string(fault.error);
    }
}

std::string TlsErrorText(unsigned long sslError, const TlsSideFacts& side) {
    const bool node = side.node;
    const bool ownCertificate = !side.certificateFile.empty();
    const std::string profile =
        side.profile.empty() ? std::string() : " (profile " + side.profile + ")";
    switch (ERR_GET_REASON(sslError)) {
        case SSL_R_WRONG_VERSION_NUMBER:
        case SSL_R_PACKET_LENGTH_TOO_LONG:
        case SSL_R_RECORD_LENGTH_MISMATCH:
        case SSL_R_HTTP_REQUEST:
        case SSL_R_UNKNOWN_PROTOCOL:
            return Other(side) + (node ? " answered without TLS: is this port a TLS port?"
                                       : " spoke without TLS (plain DICOM?) to a TLS port");
        case SSL_R_TLSV13_ALERT_CERTIFICATE_REQUIRED:
        case SSL_R_PEER_DID_NOT_RETURN_A_CERTIFICATE:
            return node ? "the node requires a client certificate: give one with --tls-cert and "
                          "--tls-key"
                        : "the caller gave no certificate, and this listener requires one";
        case SSL_R_SSLV3_ALERT_HANDSHAKE_FAILURE:
            if (node && !ownCertificate)
                return "the node refused the TLS handshake: it may require a client certificate "
                       "(--tls-cert, --tls-key), or share no cipher suite" +
                       (side.profile.empty() ? std::string(" with this side")
                                             : " with profile " + side.profile);
            return Other(side) + " refused the TLS handshake: no cipher suite in common" +
                   (side.profile.empty() ? std::string() : " with profile " + side.profile);
        case SSL_R_TLSV1_ALERT_UNKNOWN_CA:
        case SSL_R_SSLV3_ALERT_BAD_CERTIFICATE:
        case SSL_R_SSLV3_ALERT_CERTIFICATE_UNKNOWN:
        case SSL_R_SSLV3_ALERT_UNSUPPORTED_CERTIFICATE:
        case SSL_R_SSLV3_ALERT_CERTIFICATE_EXPIRED:
        case SSL_R_SSLV3_ALERT_CERTIFICATE_REVOKED:
        case SSL_R_TLSV1_ALERT_ACCESS_DENIED:
            return Other(side) + " does not accept our certificate (" + side.certificateFile +
                   "): its TLS alert says \"" + ERR_reason_error_string(sslError) + "\"";
        case SSL_R_NO_SHARED_CIPHER:
        case SSL_R_UNSUPPORTED_PROTOCOL:
        case SSL_R_NO_PROTOCOLS_AVAILABLE:
        case SSL_R_VERSION_TOO_LOW:
        case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
        case SSL_R_TLSV1_ALERT_INSUFFICIENT_SECURITY:
            return "no TLS version or cipher suite in common with " + Other(side) + profile;
        default: {
            const char* text = ERR_reason_error_string(sslError);
            return std::string("TLS error: ") + (text != nullptr ? text : "unknown");
        }
    }
}

void DescribeTlsSession(ssl_st* ssl, TlsReport& report) {
    if (ssl == nullptr) return;
    report.established = true;
    report.protocol = SSL_get_version(ssl);
    if (const SSL_CIPHER* cipher = SSL_get_current_cipher(ssl))
        report.cipherSuite = SSL_CIPHER_standard_name(cipher);
    X509* cert = SSL_get1_peer_certificate(ssl);
    if (cert == nullptr) return;
    report.peerSubject = NameText(X509_get_subject_name(cert));
    report.peerIssuer = NameText(X509_get_issuer_name(cert));
    report.peerNotBefore = TimeText(X509_get0_notBefore(cert));
    report.peerNotAfter = TimeText(X509_get0_notAfter(cert));
    X509_free(cert);
}

}  // namespace lumo::dicom::detail
