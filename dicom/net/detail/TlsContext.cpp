#include "dicom/net/detail/TlsContext.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmtls/tlslayer.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "support/Exception.h"
#include "support/WholeFile.h"

namespace lumo::dicom {

namespace {

DcmTLSSecurityProfile ProfileOf(TlsProfile profile) {
    switch (profile) {
        case TlsProfile::Bcp195:
            return TSP_Profile_BCP195;
        case TlsProfile::Bcp195Extended:
            return TSP_Profile_BCP195_Extended;
        case TlsProfile::Aes:
            return TSP_Profile_AES;
        case TlsProfile::Null:
            return TSP_Profile_IHE_ATNA_Unencrypted;
        default:
            return TSP_Profile_BCP195_ND;
    }
}

[[noreturn]] void Refuse(const std::string& why) { throw Exception(ErrorClass::EDicomError, why); }

struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct X509Free {
    void operator()(X509* cert) const { X509_free(cert); }
};
struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using Bio = std::unique_ptr<BIO, BioFree>;
using Certificate = std::unique_ptr<X509, X509Free>;
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;

// The largest certificate, key or file of trusted certificates read: far
// beyond any real chain or bundle, small enough to hold.
constexpr std::size_t kMaxTlsFileBytes = std::size_t{16} * 1024 * 1024;

// The whole of a file the operator named (`what`: "the certificate"), or
// the reason it cannot be had. Only a regular file of bounded size is read,
// opened without waiting: a named pipe would hold the program in its open
// for ever, a device like /dev/zero would fill the memory.
std::string ReadNamedFile(const std::string& path, const std::string& what) {
    std::error_code error;
    if (!std::filesystem::exists(path, error)) Refuse(what + " " + path + " does not exist");
    if (std::filesystem::is_directory(path, error)) Refuse(what + " " + path + " is a folder");
    WholeFile file = ReadWholeFile(path, ReadableFiles::RegularOnly, kMaxTlsFileBytes);
    if (file.error == EINVAL) Refuse(what + " " + path + " is not a regular file");
    if (file.error == EFBIG)
        Refuse(what + " " + path + " is too large (over " +
               std::to_string(kMaxTlsFileBytes / (1024 * 1024)) + " MiB)");
    if (!file.Ok())
        Refuse(what + " " + path + " cannot be read (" + std::strerror(file.error) + ")");
    return std::move(file.bytes);
}

// Every PEM certificate in `text`, in order.
std::vector<Certificate> CertificatesIn(const std::string& text) {
    std::vector<Certificate> found;
    Bio bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
    while (bio) {
        Certificate cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
        if (!cert) break;
        found.push_back(std::move(cert));
    }
    ERR_clear_error();  // the end of the text reads as an error
    return found;
}

// Hands OpenSSL the password of the environment, or nothing: OpenSSL's own
// fallback would ask on the terminal, and the console must never wait there.
int PasswordOf(char* buffer, int size, int, void* data) {
    const auto* password = static_cast<const std::string*>(data);
    if (password == nullptr || size <= 0) return -1;
    const int length = static_cast<int>(std::min<std::size_t>(password->size(), size));
    std::memcpy(buffer, password->data(), static_cast<std::size_t>(length));
    return length;
}

Key ReadKey(const std::string& path) {
    std::string text = ReadNamedFile(path, "the private key");
    const char* given = std::getenv(kTlsKeyPasswordVariable);
    std::string password = given != nullptr ? given : "";
    Bio bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
    Key key(PEM_read_bio_PrivateKey(bio.get(), nullptr, PasswordOf,
                                    given != nullptr ? &password : nullptr));
    OPENSSL_cleanse(password.data(), password.size());
    ERR_clear_error();
    const bool encrypted = text.find("ENCRYPTED") != std::string::npos;
    OPENSSL_cleanse(text.data(), text.size());
    if (key) return key;
    if (encrypted && given == nullptr)
        Refuse("the private key " + path +
               " is encrypted: put its password in the environment variable " +
               kTlsKeyPasswordVariable);
    if (encrypted)
        Refuse("the password in " + std::string(kTlsKeyPasswordVariable) +
               " does not open the private key " + path);
    Refuse(path + " holds no PEM private key");
}

void UseOwnCertificate(SSL_CTX* ctx, const DicomTls& tls) {
    const std::vector<Certificate> chain =
        CertificatesIn(ReadNamedFile(tls.certificateFile, "the certificate"));
    if (chain.empty()) Refuse(tls.certificateFile + " holds no PEM certificate");
    const Key key = ReadKey(tls.privateKeyFile);
    if (X509_check_private_key(chain.front().get(), key.get()) != 1) {
        ERR_clear_error();
        Refuse("the private key " + tls.privateKeyFile + " does not match the certificate " +
               tls.certificateFile);
    }
    SSL_CTX_clear_chain_certs(ctx);
    if (SSL_CTX_use_certificate(ctx, chain.front().get()) != 1 ||
        SSL_CTX_use_PrivateKey(ctx, key.get()) != 1) {
        ERR_clear_error();
        Refuse("the certificate " + tls.certificateFile +
               " cannot be used with the chosen TLS profile");
    }
    for (std::size_t i = 1; i < chain.size(); ++i) SSL_CTX_add1_chain_cert(ctx, chain[i].get());
}

// A PEM file, or every PEM file of a folder (by content, not by the hashed
// names OpenSSL's own folder lookup wants).
void TrustCertificates(SSL_CTX* ctx, const std::string& path) {
    X509_STORE* store = SSL_CTX_get_cert_store(ctx);
    std::vector<Certificate> trusted;
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
            // What is not a regular file of bounded size holds no
            // certificate worth waiting for.
            const WholeFile file =
                ReadWholeFile(entry.path().string(), ReadableFiles::RegularOnly, kMaxTlsFileBytes);
            if (!file.Ok()) continue;
            for (Certificate& cert : CertificatesIn(file.bytes)) trusted.push_back(std::move(cert));
        }
        if (trusted.empty()) Refuse("the folder " + path + " holds no PEM certificate");
    } else {
        trusted = CertificatesIn(ReadNamedFile(path, "the file of trusted certificates"));
        if (trusted.empty()) Refuse(path + " holds no PEM certificate");
    }
    for (const Certificate& cert : trusted) X509_STORE_add_cert(store, cert.get());
    ERR_clear_error();  // a certificate given twice is no fault
}

}  // namespace

namespace detail {

namespace {

void CheckPairing(const DicomTls& settings, TlsSide side) {
    const bool hasCert = !settings.certificateFile.empty();
    const bool hasKey = !settings.privateKeyFile.empty();
    if (side == TlsSide::Acceptor && !hasCert && !hasKey)
        Refuse("listening over TLS needs a certificate and its private key");
    if (hasCert && !hasKey)
        Refuse("the certificate " + settings.certificateFile + " is given without its private key");
    if (hasKey && !hasCert)
        Refuse("the private key " + settings.privateKeyFile + " is given without its certificate");
}

void UseFiles(SSL_CTX* ctx, const DicomTls& settings) {
    if (!settings.certificateFile.empty()) UseOwnCertificate(ctx, settings);
    if (settings.trusted.empty()) {
        SSL_CTX_set_default_verify_paths(ctx);
    } else {
        TrustCertificates(ctx, settings.trusted);
    }
    ERR_clear_error();
}

}  // namespace

void UseTlsFiles(ssl_ctx_st* ctx, const DicomTls& settings) {
    CheckPairing(settings, TlsSide::Requestor);
    UseFiles(ctx, settings);
}

TlsContext::TlsContext(const DicomTls& settings, TlsSide side) : settings_(settings), side_(side) {
    CheckPairing(settings, side);

    layer_ = std::make_unique<DcmTLSTransportLayer>(
        side == TlsSide::Acceptor ? NET_ACCEPTOR : NET_REQUESTOR, nullptr, OFFalse);
    if (!*layer_) Refuse("TLS cannot start (OpenSSL gave no context)");
    if (layer_->setTLSProfile(ProfileOf(settings.profile)).bad() ||
        layer_->activateCipherSuites().bad())
        Refuse(std::string("the TLS profile ") + TlsProfileName(settings.profile) +
               " is not available with this OpenSSL");
    if (side == TlsSide::Acceptor) layer_->setBuiltInDHParameters();
    UseFiles(Native(), settings);
}

TlsContext::~TlsContext() = default;

ssl_ctx_st* TlsContext::Native() const { return layer_->getNativeHandle(); }

}  // namespace detail
}  // namespace lumo::dicom
