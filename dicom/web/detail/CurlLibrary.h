#pragma once

// Private to dicom/web: libcurl, loaded when DICOMweb is first used rather
// than when the program starts. Linked in, it brings some thirty libraries
// (GnuTLS, Kerberos, LDAP, ...) whose loading alone took 14 ms of every
// start, DIMSE query or retrieval alike.

#include <curl/curl.h>

namespace lumo::dicom::detail {

// The libcurl functions DICOMweb calls, each as its own type. Loaded once
// per process and never unloaded; any thread.
struct CurlLibrary {
    decltype(&::curl_global_init) global_init;
    decltype(&::curl_easy_init) easy_init;
    decltype(&::curl_easy_cleanup) easy_cleanup;
    decltype(&::curl_easy_setopt) easy_setopt;
    decltype(&::curl_easy_getinfo) easy_getinfo;
    decltype(&::curl_easy_strerror) easy_strerror;
    decltype(&::curl_multi_init) multi_init;
    decltype(&::curl_multi_cleanup) multi_cleanup;
    decltype(&::curl_multi_add_handle) multi_add_handle;
    decltype(&::curl_multi_remove_handle) multi_remove_handle;
    decltype(&::curl_multi_perform) multi_perform;
    decltype(&::curl_multi_poll) multi_poll;
    decltype(&::curl_multi_wakeup) multi_wakeup;
    decltype(&::curl_multi_info_read) multi_info_read;
    decltype(&::curl_slist_append) slist_append;
    decltype(&::curl_slist_free_all) slist_free_all;
    decltype(&::curl_url) url;
    decltype(&::curl_url_cleanup) url_cleanup;
    decltype(&::curl_url_get) url_get;
    decltype(&::curl_url_set) url_set;
    decltype(&::curl_free) free;
};

// libcurl, loaded and globally initialised on the first call. Raises
// EDicomError, naming the library and why, when it cannot be loaded.
const CurlLibrary& Curl();

}  // namespace lumo::dicom::detail
