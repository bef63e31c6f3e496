#include "dicom/web/DicomWebService.h"

#include <memory>

#include "dicom/web/detail/CurlLibrary.h"
#include "support/Exception.h"

namespace lumo::dicom {

namespace {

using detail::Curl;

struct UrlFree {
    void operator()(CURLU* url) const { Curl().url_cleanup(url); }
};
struct TextFree {
    void operator()(char* text) const { Curl().free(text); }
};

// A part of a parsed URL; empty when it has none.
std::string Part(CURLU* url, CURLUPart part) {
    char* text = nullptr;
    if (Curl().url_get(url, part, &text, 0) != CURLUE_OK || text == nullptr) return {};
    const std::unique_ptr<char, TextFree> owned(text);
    return owned.get();
}

// The URL from its host on: what precedes it may hold a password.
std::string Shown(const std::string& url) {
    const std::size_t scheme = url.find("://");
    const std::size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    const std::size_t at = url.find('@', start);
    const std::size_t slash = url.find('/', start);
    if (at == std::string::npos || (slash != std::string::npos && at > slash)) return url;
    return url.substr(0, start) + url.substr(at + 1);
}

[[noreturn]] void Refuse(const std::string& url, const std::string& why) {
    throw Exception(ErrorClass::EConvertError, "DICOMweb URL '" + Shown(url) + "' refused: " + why);
}

}  // namespace

std::string CheckedBaseUrl(const std::string& url) {
    const std::unique_ptr<CURLU, UrlFree> parsed(Curl().url());
    if (!parsed) Refuse(url, "out of memory");
    if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0)
        Refuse(url,
               "it must begin with http:// or https:// (for Orthanc "
               "http://host:8042/dicom-web)");
    if (Curl().url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK)
        Refuse(url, "it is not a URL");
    if (!Part(parsed.get(), CURLUPART_USER).empty() ||
        !Part(parsed.get(), CURLUPART_PASSWORD).empty())
        Refuse(url, std::string("it holds a user or a password: give the user with --http-user "
                                "and the password in the environment variable ") +
                        kHttpPasswordVariable);
    if (Part(parsed.get(), CURLUPART_HOST).empty()) Refuse(url, "it names no host");
    if (!Part(parsed.get(), CURLUPART_QUERY).empty() ||
        !Part(parsed.get(), CURLUPART_FRAGMENT).empty())
        Refuse(url, "a base URL has no query (?) and no fragment (#)");
    std::string base = url;
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base;
}

}  // namespace lumo::dicom
