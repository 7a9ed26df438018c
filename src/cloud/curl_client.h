#pragma once

#include <curl/curl.h>

#include <memory>

namespace orvane {

// Owners of the client library's handles.
struct CurlDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
    void operator()(char* text) const { curl_free(text); }
};
// CURLM is the same type as CURL to the compiler, so it needs a deleter of its own.
struct CurlMultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;
using CurlMulti = std::unique_ptr<CURLM, CurlMultiDeleter>;
using CurlUrl = std::unique_ptr<CURLU, CurlDeleter>;
using CurlHeaders = std::unique_ptr<curl_slist, CurlDeleter>;
using CurlText = std::unique_ptr<char, CurlDeleter>;

// The library's global set-up, run once by whichever thread asks first (it is not
// thread-safe on its own).
void EnsureCurlInitialised();

// Trusts the CA file named by CURL_CA_BUNDLE, when set, instead of the system store: the same
// setting on Linux and on Windows, for a site's mirror whose certificate a private CA signed.
void UseCaBundleFromEnvironment(CURL* curl);

// Sends the request for `url` through the proxy the system names for it (Windows' Internet
// Options); where the system names none, as on Linux, the library's own reading of http_proxy,
// https_proxy and no_proxy stays in force.
void UseSystemProxy(CURL* curl, CURLU* url);

// Whether a finished transfer got no byte of an HTTP reply at all. The TLS libraries say it
// differently: on OpenSSL a connection closed before the reply is CURLE_GOT_NOTHING, on
// Windows' Schannel one closed without its close_notify is a receive error.
bool IsNoReply(CURL* curl, CURLcode rc);

// Appends one header line to `list`; false when the library could not.
bool AppendHeader(CurlHeaders* list, const char* line);

}  // namespace orvane
