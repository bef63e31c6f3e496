#pragma once

// Private to dicom/: what every TLS connection of one side shares, built
// from the operator's settings: the protocol versions and cipher suites of
// the profile (DCMTK's TLS layer), this side's certificate and key, and the
// certificates it trusts.

#include <memory>
#include <string>

#include "dicom/net/DicomTls.h"

struct ssl_ctx_st;
class DcmTLSTransportLayer;

namespace lumo::dicom::detail {

// One TLS context. Reads and checks every file as it is built, so a bad
// file is refused before anything connects: raises lumo::Exception
// (EDicomError) with the cause in words. Owns DCMTK's TLS layer and through
// it the OpenSSL context. Built and dropped on one thread; the connections
// made from it may be used on others (OpenSSL's context is shared safely).
class TlsContext {
  public:
    TlsContext(const DicomTls& settings, TlsSide side);
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    ssl_ctx_st* Native() const;
    const DicomTls& Settings() const { return settings_; }
    TlsSide Side() const { return side_; }
    // Whether this side shows a certificate of its own.
    bool HasCertificate() const { return !settings_.certificateFile.empty(); }

  private:
    const DicomTls settings_;
    const TlsSide side_;
    std::unique_ptr<DcmTLSTransportLayer> layer_;
};

// This side's certificate and key (the key's password from the
// environment) and the certificates it trusts (the system's when none are
// named), put into an OpenSSL context made by another transport (HTTPS):
// the files read, and refused, in the words of a TlsContext (EDicomError).
// The thread that owns `ctx`.
void UseTlsFiles(ssl_ctx_st* ctx, const DicomTls& settings);

}  // namespace lumo::dicom::detail
