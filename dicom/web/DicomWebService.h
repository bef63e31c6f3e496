#pragma once

#include <string>

#include "dicom/net/DicomPeer.h"

namespace lumo::dicom {

// The only places an HTTP password and a bearer token come from: never an
// option, never a setting, never a log line, a report or an error.
inline constexpr const char* kHttpPasswordVariable = "LUMO4410_HTTP_PASSWORD";
inline constexpr const char* kHttpTokenVariable = "LUMO4410_HTTP_TOKEN";

// A DICOMweb service as every exchange with it needs it: its base URL (the
// root its /studies hangs from, "http://10.0.0.5:8042/dicom-web"), the user
// of HTTP Basic authentication, how long each stage may wait (to connect,
// and for the whole of each answer), and for https:// the trust settings of
// DICOM over TLS (whether DICOM over TLS is on or not: the scheme says TLS
// here). Credentials: with a user, Basic with the password of
// kHttpPasswordVariable; without one, a bearer token when kHttpTokenVariable
// holds one; both read at each request. A plain value (no secret); any
// thread.
struct DicomWebService {
    std::string baseUrl;
    std::string httpUser;
    DicomTimeouts timeouts;
    DicomTls tls;
};

// The base URL as the console takes it: http:// or https://, a host, no
// user or password in it (they would show in every report and log line),
// no query or fragment; a trailing "/" is dropped. Anything else raises
// lumo::Exception(EConvertError, <what is wrong>), the URL named without
// what stood before its host. Any thread.
std::string CheckedBaseUrl(const std::string& url);

}  // namespace lumo::dicom
