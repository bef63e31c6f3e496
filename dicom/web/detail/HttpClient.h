#pragma once

// Private to dicom/: HTTP GETs to a DICOMweb service, over libcurl.

#include <cstddef>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "dicom/net/AssociationReport.h"
#include "dicom/web/DicomWebService.h"

namespace lumo::dicom::detail {

// An HTTP answer as the console reads it.
struct HttpAnswer {
    int status = 0;
    std::string reason;
    std::string contentType;
    std::string authenticate;  // WWW-Authenticate, every challenge
    std::string warning;       // Warning, every one
    std::string location;
    // The whole body of a success; the start of any other (what is needed
    // to say what went wrong).
    std::string body;
};

// GETs to one service, one after another, on a connection kept between them
// (the pages of a search). Each waits for its connection at most the
// service's connect timeout (TLS handshake included), then for its whole
// answer at most the response timeout, however slowly the bytes come; shows
// the service's credentials; checks an https:// service as DICOM over TLS
// checks a node; refuses a body larger than asked as it arrives; and ends at
// once when `stop` is requested, from any thread. Each request goes into the
// report as it goes, its URL as sent (the credentials travel in a header,
// never in the URL or the report). Owns libcurl's handles; the thread that
// made it.
class HttpClient {
  public:
    // `command` names the exchange in messages ("QIDO-RS").
    HttpClient(const DicomWebService& service, std::string command, AssociationReport& report,
               std::stop_token stop);
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // GET `url`, with the service's credentials or, `anonymous`, without
    // any: the answer, whatever its status; nullopt when stopped. A failure
    // of the transport raises lumo::Exception(EDicomNetworkError): "Cannot
    // connect to <service>: connection refused" (unknown host, connection
    // timeout, TLS in the words of DICOM over TLS), or "<command> to
    // <service> failed: response timeout after N s" (a body larger than
    // allowed, a connection lost) once connected. A user given without its
    // password raises EDicomError before anything is sent.
    std::optional<HttpAnswer> Get(const std::string& url, std::size_t maxBodyBytes,
                                  bool anonymous = false);

    // The time since the client was made: the zero of the report's times,
    // whose stages the first request that went out sets (connection, TLS,
    // request sent, first byte of the answer).
    ExchangeTimes::Duration Elapsed() const;

    // "Basic (NAME)", "Bearer", or empty: what Get shows.
    std::string Credentials() const;

    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

// A query parameter's name or value, percent-encoded.
std::string UrlEncoded(std::string_view text);

// The standard reason phrase of a status (HTTP/2 sends none).
const char* ReasonOf(int status);

}  // namespace lumo::dicom::detail
