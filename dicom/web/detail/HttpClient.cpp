#include "dicom/web/detail/HttpClient.h"

#include <arpa/inet.h>
#include <openssl/crypto.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "dicom/net/detail/TlsContext.h"
#include "dicom/net/detail/TlsWords.h"
#include "dicom/web/detail/CurlLibrary.h"
#include "support/Exception.h"

namespace lumo::dicom::detail {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// What is kept of a body that is not the answer asked for: enough to say
// what went wrong.
constexpr std::size_t kFailureBodyBytes = 64 * 1024;

struct EasyFree {
    void operator()(CURL* easy) const { Curl().easy_cleanup(easy); }
};
struct MultiFree {
    void operator()(CURLM* multi) const { Curl().multi_cleanup(multi); }
};
struct ListFree {
    void operator()(curl_slist* list) const { Curl().slist_free_all(list); }
};

// Where the verification callback finds the request's certificate fault:
// an index of the OpenSSL context's own data, taken once.
int FaultIndex() {
    static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                             text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

void Append(std::string& to, std::string_view text, const char* separator) {
    if (!to.empty()) to += separator;
    to += text;
}

bool IsAddress(const std::string& text) {
    unsigned char buffer[16];
    return inet_pton(AF_INET, text.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

long WholeSeconds(milliseconds timeout) {
    return static_cast<long>((timeout.count() + 999) / 1000);
}

[[noreturn]] void Raise(const std::string& message) {
    throw Exception(ErrorClass::EDicomNetworkError, message);
}

constexpr char* kNone = nullptr;

// OpenSSL's packed error code where libcurl quotes it ("error:0A000410:SSL
// routines::..."), or 0.
unsigned long QuotedSslError(const char* text) {
    const char* at = std::strstr(text, "error:");
    if (at == nullptr) return 0;
    char* end = nullptr;
    const unsigned long code = std::strtoul(at + 6, &end, 16);
    return end != nullptr && *end == ':' ? code : 0;
}

}  // namespace

struct HttpClient::Impl {
    DicomWebService service;
    std::string command;
    AssociationReport& report;
    std::stop_token stop;
    std::unique_ptr<CURLM, MultiFree> multi{Curl().multi_init()};
    std::unique_ptr<CURL, EasyFree> easy{Curl().easy_init()};
    char errorBuffer[CURL_ERROR_SIZE] = {};
    std::string host;
    const Clock::time_point begun = Clock::now();  // the zero of the report's times

    // Of the request under way.
    HttpAnswer answer;
    HttpExchange* exchange = nullptr;
    std::size_t maxBody = 0;
    bool tooLarge = false;
    bool failureBodyCut = false;
    std::string filesFailure;  // this side's TLS files, refused
    CertificateFault fault;

    Impl(const DicomWebService& given, std::string name, AssociationReport& into,
         std::stop_token token)
        : service(given), command(std::move(name)), report(into), stop(std::move(token)) {}

    bool Https() const { return service.baseUrl.rfind("https://", 0) == 0; }
    bool Success() const { return answer.status >= 200 && answer.status < 300; }

    void Configure();
    void SetCredentials(bool anonymous);
    CURLcode Perform(bool& stopped, bool& timedOut, bool& connected);
    void NoteTimes(Clock::time_point started);
    [[noreturn]] void Fail(CURLcode code, bool connected, bool timedOut);
    std::string TlsFailure() const;
    TlsSideFacts SideFacts() const {
        return {true, host, service.tls.certificateFile, std::string()};
    }

    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user);
    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user);
    static CURLcode OnSslContext(CURL*, void* sslContext, void* user);
    static int OnVerify(int ok, X509_STORE_CTX* store);
};

std::size_t HttpClient::Impl::OnHeader(char* data, std::size_t size, std::size_t count,
                                       void* user) {
    auto& impl = *static_cast<Impl*>(user);
    const std::size_t bytes = size * count;
    const std::string_view line = Trimmed(std::string_view(data, bytes));
    HttpAnswer& answer = impl.answer;
    if (line.rfind("HTTP/", 0) == 0) {
        // A new status line (after a 100 Continue, say) starts the headers again.
        answer = HttpAnswer();
        const std::size_t space = line.find(' ');
        if (space != std::string_view::npos) {
            answer.status = std::atoi(std::string(line.substr(space + 1, 3)).c_str());
            if (line.size() > space + 5)
                answer.reason = std::string(Trimmed(line.substr(space + 5)));
        }
        if (answer.reason.empty()) answer.reason = ReasonOf(answer.status);
        impl.exchange->status = answer.status;
        impl.exchange->reason = answer.reason;
        // The TLS session is whole by the time an answer arrives.
        if (impl.Https() && !(impl.report.tls && impl.report.tls->established)) {
            if (!impl.report.tls) impl.report.tls = TlsReport();
            curl_tlssessioninfo* session = nullptr;
            if (Curl().easy_getinfo(impl.easy.get(), CURLINFO_TLS_SSL_PTR, &session) == CURLE_OK &&
                session != nullptr && session->backend == CURLSSLBACKEND_OPENSSL)
                DescribeTlsSession(static_cast<SSL*>(session->internals), *impl.report.tls);
        }
        return bytes;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return bytes;
    const std::string name = Lower(Trimmed(line.substr(0, colon)));
    const std::string_view value = Trimmed(line.substr(colon + 1));
    if (name == "content-type") {
        answer.contentType = std::string(value);
        impl.exchange->contentType = answer.contentType;
    } else if (name == "www-authenticate") {
        Append(answer.authenticate, value, ", ");
        impl.exchange->authenticate = answer.authenticate;
    } else if (name == "warning") {
        Append(answer.warning, value, "; ");
        impl.exchange->warning = answer.warning;
    } else if (name == "location") {
        answer.location = std::string(value);
    } else if (name == "content-length" && impl.Success()) {
        // Refused before a byte of it comes.
        if (std::strtoull(std::string(value).c_str(), nullptr, 10) > impl.maxBody) {
            impl.tooLarge = true;
            return 0;
        }
    }
    return bytes;
}

std::size_t HttpClient::Impl::OnBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto& impl = *static_cast<Impl*>(user);
    const std::size_t bytes = size * count;
    impl.exchange->bytes += bytes;
    std::string& body = impl.answer.body;
    if (!impl.Success()) {
        // The start says what went wrong; the rest is not waited for.
        body.append(data,
                    std::min(bytes, kFailureBodyBytes - std::min(body.size(), kFailureBodyBytes)));
        if (body.size() < kFailureBodyBytes) return bytes;
        impl.failureBodyCut = true;
        return 0;
    }
    if (body.size() + bytes > impl.maxBody) {
        impl.tooLarge = true;
        return 0;
    }
    body.append(data, bytes);
    return bytes;
}

CURLcode HttpClient::Impl::OnSslContext(CURL*, void* sslContext, void* user) {
    auto& impl = *static_cast<Impl*>(user);
    auto* ctx = static_cast<SSL_CTX*>(sslContext);
    try {
        UseTlsFiles(ctx, impl.service.tls);
    } catch (const Exception& e) {
        impl.filesFailure = e.Message();
        return CURLE_SSL_CERTPROBLEM;
    }
    SSL_CTX_set_ex_data(ctx, FaultIndex(), &impl);
    SSL_CTX_set_verify(ctx, SSL_CTX_get_verify_mode(ctx), OnVerify);
    // The name is checked with the chain, so that a wrong one is told in
    // the same words as the chain's other faults.
    if (impl.service.tls.verify == TlsVerify::Require) {
        X509_VERIFY_PARAM* param = SSL_CTX_get0_param(ctx);
        if (IsAddress(impl.host)) {
            X509_VERIFY_PARAM_set1_ip_asc(param, impl.host.c_str());
        } else {
            X509_VERIFY_PARAM_set1_host(param, impl.host.c_str(), 0);
        }
    }
    return CURLE_OK;
}

int HttpClient::Impl::OnVerify(int ok, X509_STORE_CTX* store) {
    if (ok == 1) return ok;
    auto* ssl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* impl =
        ssl ? static_cast<Impl*>(SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), FaultIndex())) : nullptr;
    if (impl != nullptr)
        impl->fault.Note(X509_STORE_CTX_get_error(store), X509_STORE_CTX_get_current_cert(store),
                         X509_STORE_CTX_get0_cert(store));
    return ok;
}

void HttpClient::Impl::Configure() {
    CURL* h = easy.get();
    Curl().easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    Curl().easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
    Curl().easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    Curl().easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    Curl().easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
    Curl().easy_setopt(h, CURLOPT_USERAGENT, "Lumo4410");
    Curl().easy_setopt(
        h, CURLOPT_CONNECTTIMEOUT_MS,
        static_cast<long>(std::max<milliseconds::rep>(service.timeouts.connect.count(), 1)));
    Curl().easy_setopt(h, CURLOPT_HEADERFUNCTION, &Impl::OnHeader);
    Curl().easy_setopt(h, CURLOPT_HEADERDATA, this);
    Curl().easy_setopt(h, CURLOPT_WRITEFUNCTION, &Impl::OnBody);
    Curl().easy_setopt(h, CURLOPT_WRITEDATA, this);
    Curl().easy_setopt(h, CURLOPT_TCP_NODELAY, 1L);
    if (!Https()) return;
    // The trust of DICOM over TLS: the certificates named (or the system's),
    // this side's certificate when one is named, the node's name checked
    // unless only its chain is (chain).
    const bool verify = service.tls.verify != TlsVerify::Ignore;
    Curl().easy_setopt(h, CURLOPT_CAINFO, kNone);
    Curl().easy_setopt(h, CURLOPT_CAPATH, kNone);
    Curl().easy_setopt(h, CURLOPT_CA_CACHE_TIMEOUT, 0L);
    Curl().easy_setopt(h, CURLOPT_SSL_VERIFYPEER, verify ? 1L : 0L);
    Curl().easy_setopt(h, CURLOPT_SSL_VERIFYHOST,
                       service.tls.verify == TlsVerify::Require ? 2L : 0L);
    Curl().easy_setopt(h, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    Curl().easy_setopt(h, CURLOPT_SSL_CTX_FUNCTION, &Impl::OnSslContext);
    Curl().easy_setopt(h, CURLOPT_SSL_CTX_DATA, this);
}

void HttpClient::Impl::SetCredentials(bool anonymous) {
    CURL* h = easy.get();
    Curl().easy_setopt(h, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_NONE));
    Curl().easy_setopt(h, CURLOPT_USERNAME, kNone);
    Curl().easy_setopt(h, CURLOPT_PASSWORD, kNone);
    Curl().easy_setopt(h, CURLOPT_XOAUTH2_BEARER, kNone);
    if (anonymous) return;
    if (!service.httpUser.empty()) {
        const char* password = std::getenv(kHttpPasswordVariable);
        if (password == nullptr)
            throw Exception(ErrorClass::EDicomError,
                            "the HTTP user " + service.httpUser +
                                " is given without a password: put it in the environment "
                                "variable " +
                                kHttpPasswordVariable);
        Curl().easy_setopt(h, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
        Curl().easy_setopt(h, CURLOPT_USERNAME, service.httpUser.c_str());
        Curl().easy_setopt(h, CURLOPT_PASSWORD, password);
        return;
    }
    if (const char* token = std::getenv(kHttpTokenVariable); token != nullptr && *token != '\0') {
        Curl().easy_setopt(h, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BEARER));
        Curl().easy_setopt(h, CURLOPT_XOAUTH2_BEARER, token);
    }
}

// The transfer, until it ends, stops or outlasts the response timeout.
CURLcode HttpClient::Impl::Perform(bool& stopped, bool& timedOut, bool& connected) {
    CURLM* m = multi.get();
    Curl().multi_add_handle(m, easy.get());
    std::stop_callback wake(stop, [m] { Curl().multi_wakeup(m); });
    const Clock::time_point started = Clock::now();
    for (;;) {
        int running = 0;
        if (Curl().multi_perform(m, &running) != CURLM_OK || running == 0) break;
        if (stop.stop_requested()) {
            stopped = true;
            break;
        }
        curl_off_t sent = 0;  // microseconds from the start to the request going out
        Curl().easy_getinfo(easy.get(), CURLINFO_PRETRANSFER_TIME_T, &sent);
        milliseconds wait{1000};
        if (sent > 0) {
            connected = true;
            const Clock::time_point deadline =
                started + std::chrono::microseconds(sent) + service.timeouts.response;
            const Clock::time_point now = Clock::now();
            if (now >= deadline) {
                timedOut = true;
                break;
            }
            wait = std::min(
                wait, std::chrono::duration_cast<milliseconds>(deadline - now) + milliseconds(1));
        }
        Curl().multi_poll(m, nullptr, 0, static_cast<int>(wait.count()), nullptr);
    }
    CURLcode result = CURLE_OK;
    int left = 0;
    while (CURLMsg* message = Curl().multi_info_read(m, &left)) {
        if (message->msg == CURLMSG_DONE) result = message->data.result;
    }
    curl_off_t sent = 0;
    Curl().easy_getinfo(easy.get(), CURLINFO_PRETRANSFER_TIME_T, &sent);
    connected = connected || sent > 0;
    Curl().multi_remove_handle(m, easy.get());
    return result;
}

// The stages of the first request that went out, as libcurl timed them
// from its start: the connection, TLS, the request sent, the answer's first
// byte. Later requests reuse the connection: they have no stages of their own.
void HttpClient::Impl::NoteTimes(Clock::time_point started) {
    ExchangeTimes& times = report.times;
    if (times.requestSent) return;
    const auto at = [&](CURLINFO info) -> std::optional<ExchangeTimes::Duration> {
        curl_off_t value = 0;
        if (Curl().easy_getinfo(easy.get(), info, &value) != CURLE_OK || value <= 0)
            return std::nullopt;
        return std::chrono::duration_cast<ExchangeTimes::Duration>(started - begun) +
               std::chrono::microseconds(value);
    };
    times.connected = at(CURLINFO_CONNECT_TIME_T);
    if (Https()) times.tlsEstablished = at(CURLINFO_APPCONNECT_TIME_T);
    times.requestSent = at(CURLINFO_PRETRANSFER_TIME_T);
    times.firstResponse = at(CURLINFO_STARTTRANSFER_TIME_T);
}

std::string HttpClient::Impl::TlsFailure() const {
    if (!filesFailure.empty()) return filesFailure;
    if (fault.Noted() && service.tls.verify != TlsVerify::Ignore)
        return CertificateFaultText(fault, SideFacts());
    if (const unsigned long code = QuotedSslError(errorBuffer))
        return TlsErrorText(code, SideFacts());
    return std::string();
}

void HttpClient::Impl::Fail(CURLcode code, bool connected, bool timedOut) {
    const std::string text = errorBuffer[0] != '\0' ? errorBuffer : Curl().easy_strerror(code);
    const std::string connect = "Cannot connect to " + service.baseUrl + ": ";
    const std::string failed = command + " to " + service.baseUrl + " failed: ";
    if (timedOut || (code == CURLE_OPERATION_TIMEDOUT && connected))
        Raise(failed + "response timeout after " +
              std::to_string(WholeSeconds(service.timeouts.response)) + " s");
    if (tooLarge) Raise(failed + "answer larger than " + std::to_string(maxBody) + " bytes");
    const std::string tls = Https() ? TlsFailure() : std::string();
    if (!tls.empty()) {
        const bool established = report.tls && report.tls->established;
        if (!report.tls) report.tls = TlsReport();
        report.tls->failure = tls;
        Raise((established ? failed : connect) + tls);
    }
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
            Raise(connect + "unknown host");
        case CURLE_OPERATION_TIMEDOUT:
            Raise(connect + "connection timeout after " +
                  std::to_string(WholeSeconds(service.timeouts.connect)) + " s");
        case CURLE_COULDNT_CONNECT: {
            long error = 0;
            Curl().easy_getinfo(easy.get(), CURLINFO_OS_ERRNO, &error);
            if (error == ECONNREFUSED) Raise(connect + "connection refused");
            if (error == EHOSTUNREACH) Raise(connect + "host unreachable");
            if (error == ENETUNREACH) Raise(connect + "network unreachable");
            Raise(connect + text);
        }
        case CURLE_GOT_NOTHING:
            Raise(failed + "the service closed the connection without an answer");
        case CURLE_SSL_CONNECT_ERROR:
            Raise(connect + text);
        default:
            Raise((connected ? failed : connect) + text);
    }
}

HttpClient::HttpClient(const DicomWebService& service, std::string command,
                       AssociationReport& report, std::stop_token stop) {
    Curl();  // loaded before any handle, or the reason it cannot be
    impl_ = std::make_unique<Impl>(service, std::move(command), report, std::move(stop));
    if (!impl_->multi || !impl_->easy)
        throw Exception(ErrorClass::EDicomError, "Cannot start HTTP (libcurl gave no handle)");
    const std::size_t scheme = service.baseUrl.find("://");
    const std::size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    std::string authority = service.baseUrl.substr(start, service.baseUrl.find('/', start) - start);
    if (!authority.empty() && authority.front() == '[') {
        impl_->host = authority.substr(1, authority.find(']') - 1);
    } else {
        impl_->host = authority.substr(0, authority.find(':'));
    }
    impl_->Configure();
    report.serviceUrl = service.baseUrl;
    report.credentials = Credentials();
}

HttpClient::~HttpClient() = default;

ExchangeTimes::Duration HttpClient::Elapsed() const {
    return std::chrono::duration_cast<ExchangeTimes::Duration>(Clock::now() - impl_->begun);
}

std::string HttpClient::Credentials() const {
    if (!impl_->service.httpUser.empty()) return "Basic (" + impl_->service.httpUser + ")";
    const char* token = std::getenv(kHttpTokenVariable);
    return token != nullptr && *token != '\0' ? "Bearer" : "";
}

std::optional<HttpAnswer> HttpClient::Get(const std::string& url, std::size_t maxBodyBytes,
                                          bool anonymous) {
    Impl& impl = *impl_;
    if (impl.stop.stop_requested()) return std::nullopt;
    impl.SetCredentials(anonymous);
    const std::unique_ptr<curl_slist, ListFree> headers(
        Curl().slist_append(nullptr, "Accept: application/dicom+json, application/json"));
    Curl().easy_setopt(impl.easy.get(), CURLOPT_HTTPHEADER, headers.get());
    Curl().easy_setopt(impl.easy.get(), CURLOPT_URL, url.c_str());
    impl.answer = HttpAnswer();
    impl.maxBody = maxBodyBytes;
    impl.tooLarge = impl.failureBodyCut = false;
    impl.filesFailure.clear();
    impl.fault = CertificateFault();
    impl.errorBuffer[0] = '\0';
    impl.exchange = &impl.report.http.emplace_back();
    impl.exchange->url = url;

    const Clock::time_point started = Clock::now();
    bool stopped = false;
    bool timedOut = false;
    bool connected = false;
    const CURLcode code = impl.Perform(stopped, timedOut, connected);
    impl.exchange->duration = std::chrono::duration_cast<milliseconds>(Clock::now() - started);
    impl.NoteTimes(started);
    Curl().easy_setopt(impl.easy.get(), CURLOPT_HTTPHEADER, static_cast<curl_slist*>(nullptr));
    impl.report.connected = impl.report.connected || connected;
    if (stopped) return std::nullopt;
    const bool done = code == CURLE_OK || (code == CURLE_WRITE_ERROR && impl.failureBodyCut);
    if (!done || timedOut) impl.Fail(code, connected, timedOut);
    if (impl.answer.status == 0) impl.Fail(CURLE_GOT_NOTHING, connected, false);
    return impl.answer;
}

std::string UrlEncoded(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '-' || c == '.' || c == '_' || c == '~') {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0x0F];
        }
    }
    return encoded;
}

const char* ReasonOf(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 204:
            return "No Content";
        case 206:
            return "Partial Content";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 303:
            return "See Other";
        case 307:
            return "Temporary Redirect";
        case 308:
            return "Permanent Redirect";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 406:
            return "Not Acceptable";
        case 408:
            return "Request Timeout";
        case 413:
            return "Content Too Large";
        case 429:
            return "Too Many Requests";
        case 500:
            return "Internal Server Error";
        case 501:
            return "Not Implemented";
        case 502:
            return "Bad Gateway";
        case 503:
            return "Service Unavailable";
        case 504:
            return "Gateway Timeout";
        default:
            return "";
    }
}

}  // namespace lumo::dicom::detail
