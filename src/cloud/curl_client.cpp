#include "cloud/curl_client.h"

#include <mutex>

namespace orvane {

void EnsureCurlInitialised() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
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
