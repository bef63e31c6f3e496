#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lumo::dicom {

// The protocol versions and cipher suites offered, as dcmtk's tools name
// their profiles: the non-downgrading BCP 195 profile, BCP 195, its
// extended form, the older AES profile, and authentication without
// encryption.
enum class TlsProfile { Bcp195Nd, Bcp195, Bcp195Extended, Aes, Null };

// How the other side's certificate is checked: it must chain to a trusted
// one and, for a node this side calls, be issued for the address called
// (Require); only chain to a trusted one, whatever name it is issued for, as
// dcmtk's tools check it (Chain); or not at all (Ignore). A caller's name is
// never checked, so a listener takes Chain as Require.
enum class TlsVerify { Require, Chain, Ignore };

// Which end of the connection this side is: it calls a node, or a caller
// comes to its listener (which then needs a certificate of its own).
enum class TlsSide { Requestor, Acceptor };

// The only place a private key's password comes from: never an option,
// never a setting, never a log line.
inline constexpr const char* kTlsKeyPasswordVariable = "LUMO4410_TLS_KEY_PASSWORD";

// DICOM over TLS for one side of the console: the queries' side, or listen
// mode's. A plain value (file names only, no secret); any thread.
struct DicomTls {
    bool enabled = false;
    std::string certificateFile;  // PEM, this side's certificate (its chain may follow)
    std::string privateKeyFile;   // PEM, that certificate's key
    std::string trusted;          // PEM file or folder of trusted certificates; empty: the system's
    TlsVerify verify = TlsVerify::Require;
    TlsProfile profile = TlsProfile::Bcp195Nd;
};

// "bcp195-nd", "bcp195", "bcp195-ex", "aes", "null", and back.
const char* TlsProfileName(TlsProfile profile);
std::optional<TlsProfile> TlsProfileOfName(std::string_view name);
// "require", "chain", "ignore", and back.
const char* TlsVerifyName(TlsVerify verify);
std::optional<TlsVerify> TlsVerifyOfName(std::string_view name);

// Reads the files of `tls` as a connection would, without connecting: a
// missing or unreadable file, a file without a certificate or key, an
// encrypted key without its password (or with a wrong one), a key that does
// not match its certificate, a certificate without a key, or a listener
// without either raise lumo::Exception(EDicomError, <the cause in words>).
// Does nothing when TLS is off. Any thread.
void CheckTlsFiles(const DicomTls& tls, TlsSide side);

}  // namespace lumo::dicom
