#include "cloud/curl_client.h"

#include <cstdlib>
#include <mutex>
#include <string>

#include "platform/system_proxy.h"

namespace orvane {

void EnsureCurlInitialised() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

void UseCaBundleFromEnvironment(CURL* curl) {
    const char* caBundle = std::getenv("CURL_CA_BUNDLE");
    if (caBundle && *caBundle) {
        // On OpenSSL the file replaces the bundle; on Schannel the chain is built against the
        // file's certificates as its only roots, the system store left out.
        curl_easy_setopt(curl, CURLOPT_CAINFO, caBundle);
        // A site's own CA seldom publishes revocation lists, and a site mirror's LAN may reach
        // no other server: Schannel would refuse such a chain as "revocation unknown". A
        // certificate its CA did revoke is still refused. OpenSSL checks no revocation here.
        curl_easy_setopt(curl, CURLOPT_SSL_OPTIONS,
                         static_cast<long>(CURLSSLOPT_REVOKE_BEST_EFFORT));
    }
}

void UseSystemProxy(CURL* curl, CURLU* url) {
    const platform::SystemProxy system = platform::GetSystemProxy();
    if (system.servers.empty()) {
        return;
    }
    char* scheme = nullptr;
    char* host = nullptr;
    curl_url_get(url, CURLUPART_SCHEME, &scheme, 0);
    const CurlText ownedScheme(scheme);
    curl_url_get(url, CURLUPART_HOST, &host, 0);
    const CurlText ownedHost(host);
    // An empty proxy is a direct connection, the environment's proxy included.
    const std::string proxy =
        platform::ProxyForRequest(system, scheme ? scheme : "", host ? host : "");
    curl_easy_setopt(curl, CURLOPT_PROXY, proxy.c_str());
}

bool IsNoReply(CURL* curl, CURLcode rc) {
    if (rc == CURLE_GOT_NOTHING || rc == CURLE_WEIRD_SERVER_REPLY) {
        return true;
    }
    long headerBytes = 0;
    return rc == CURLE_RECV_ERROR &&
           curl_easy_getinfo(curl, CURLINFO_HEADER_SIZE, &headerBytes) == CURLE_OK &&
           headerBytes == 0;
}

bool AppendHeader(CurlHeaders* list, const char* line) {
    curl_slist* grown = curl_slist_append(list->get(), line);
    if (!grown) {
        return false;
    }
    // The library returns the same list, grown; the owner must not free it twice.
    list->release();
    list->reset(grown);
    return true;
}

}  // namespace orvane
