#pragma once

// Private to dicom/: a TLS session and its failures in the operator's words,
// the same whichever transport carried the handshake (DICOM over TLS, or
// HTTPS to a DICOMweb service).

#include <string>

#include "dicom/net/AssociationReport.h"

struct ssl_st;
struct x509_st;

namespace lumo::dicom::detail {

// The first fault a certificate check met: OpenSSL's verification error and
// the certificate it met it at (and the other side's own, the chain's leaf).
// A plain value; noted on the thread of the handshake.
struct CertificateFault {
    int error = 0;                                            // X509_V_OK when none
    std::string subject, issuer, notBefore, notAfter, names;  // of the faulty certificate
    std::string leafSubject, leafIssuer;                      // of the other side's own

    // Keeps the first fault only.
    void Note(int verifyError, x509_st* certificate, x509_st* leaf);
    bool Noted() const { return error != 0; }
};

// Who the other side is and what this side showed, for the words.
struct TlsSideFacts {
    bool node = true;             // this side called a node (or a caller came to a listener)
    std::string peerAddress;      // as called
    std::string certificateFile;  // this side's, when it shows one
    std::string profile;          // the profile offered ("bcp195-nd"); empty when none applies
};

// "the node's certificate (CN=...) expired on ...", "... is issued for X,
// not for Y", "... is not trusted: add its issuer's certificate ...".
std::string CertificateFaultText(const CertificateFault& fault, const TlsSideFacts& side);

// A failed handshake or exchange by OpenSSL's error (its packed code, as
// ERR_peek_error gives it): a plain port, a client certificate the other
// side requires or refuses, no version or cipher suite in common.
std::string TlsErrorText(unsigned long sslError, const TlsSideFacts& side);

// The session as the handshake settled it: version, cipher suite, and the
// other side's certificate.
void DescribeTlsSession(ssl_st* ssl, TlsReport& report);

}  // namespace lumo::dicom::detail
