#include "cloud/curl_client.h"

#include <cstdlib>
#include <mutex>

namespace orvane {

void EnsureCurlInitialised() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

void UseCaBundleFromEnvironment(CURL* curl) {
    const char* caBundle = std::getenv("CURL_CA_BUNDLE");
    if (caBundle && *caBundle) {
        curl_easy_setopt(curl, CURLOPT_CAINFO, caBundle);
    }
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
