#include "dicom/web/detail/CurlLibrary.h"

#include <dlfcn.h>

#include <mutex>
#include <string>

#include "support/Exception.h"

namespace lumo::dicom::detail {

namespace {

// The soname of the libcurl this program was built against (Debian's
// libcurl4, its OpenSSL build).
constexpr const char* kLibrary = "libcurl.so.4";

template <typename Function>
void Find(void* library, const char* name, Function& into, std::string& missing) {
    into = reinterpret_cast<Function>(::dlsym(library, name));
    if (into == nullptr && missing.empty()) missing = name;
}

CurlLibrary Load() {
    void* library = ::dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* why = ::dlerror();
        throw Exception(ErrorClass::EDicomError,
                        std::string("DICOMweb impossible : ") + kLibrary + " ne se charge pas (" +
                            (why != nullptr ? why : "?") + ") : installer libcurl4");
    }
    CurlLibrary curl{};
    std::string missing;
    Find(library, "curl_global_init", curl.global_init, missing);
    Find(library, "curl_easy_init", curl.easy_init, missing);
    Find(library, "curl_easy_cleanup", curl.easy_cleanup, missing);
    Find(library, "curl_easy_setopt", curl.easy_setopt, missing);
    Find(library, "curl_easy_getinfo", curl.easy_getinfo, missing);
    Find(library, "curl_easy_strerror", curl.easy_strerror, missing);
    Find(library, "curl_multi_init", curl.multi_init, missing);
    Find(library, "curl_multi_cleanup", curl.multi_cleanup, missing);
    Find(library, "curl_multi_add_handle", curl.multi_add_handle, missing);
    Find(library, "curl_multi_remove_handle", curl.multi_remove_handle, missing);
    Find(library, "curl_multi_perform", curl.multi_perform, missing);
    Find(library, "curl_multi_poll", curl.multi_poll, missing);
    Find(library, "curl_multi_wakeup", curl.multi_wakeup, missing);
    Find(library, "curl_multi_info_read", curl.multi_info_read, missing);
    Find(library, "curl_slist_append", curl.slist_append, missing);
    Find(library, "curl_slist_free_all", curl.slist_free_all, missing);
    Find(library, "curl_url", curl.url, missing);
    Find(library, "curl_url_cleanup", curl.url_cleanup, missing);
    Find(library, "curl_url_get", curl.url_get, missing);
    Find(library, "curl_url_set", curl.url_set, missing);
    Find(library, "curl_free", curl.free, missing);
    if (!missing.empty()) {
        // Too old a libcurl: nothing of it is used.
        ::dlclose(library);
        throw Exception(ErrorClass::EDicomError, std::string("DICOMweb impossible : ") + kLibrary +
                                                     " sans " + missing +
                                                     " : libcurl 7.68 ou plus récente requise");
    }
    curl.global_init(CURL_GLOBAL_DEFAULT);
    return curl;
}

}  // namespace

const CurlLibrary& Curl() {
    // A failed load raises to the caller and is tried again on the next use.
    static std::once_flag once;
    static CurlLibrary loaded{};
    std::call_once(once, [] { loaded = Load(); });
    return loaded;
}

}  // namespace lumo::dicom::detail
