#include "cloud/cloud_query.h"

#include <curl/curl.h>

#include <cstdlib>

#include "cloud/curl_client.h"
#include "support/log.h"

namespace orvane {

bool g_bTestMode = false;

namespace {

// Hosts of the update service; neither is a real vendor's domain.
constexpr const char* kProductionUpdateHost = "update.orvane.example";
constexpr const char* kTestUpdateHost = "update-test.orvane.example";

constexpr long kConnectTimeoutMs = 4000;
// The client gives up on a reply that stalls this long without a byte.
constexpr long kStallSeconds = 30;
// The reply text lives in a 10240-byte zero-filled buffer: at most 10239 bytes of body.
constexpr size_t kMaxReplyBody = 10239;

// A body sink with a limit: the transfer is stopped (write error) once the limit is passed.
struct BodySink {
    std::string text;
    size_t limit = 0;
    bool overflowed = false;
};

size_t CollectBody(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<BodySink*>(user);
    const size_t n = size * count;
    if (sink->text.size() + n > sink->limit) {
        sink->overflowed = true;
        return 0;
    }
    sink->text.append(data, n);
    return n;
}

size_t StopAtBody(char*, size_t, size_t, void*) {
    return 0;
}

// Called by the library about once a second and on every transfer step; non-zero ends the
// transfer, so a Stop does not wait out a slow service.
int AbandonWhenStopped(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* running = static_cast<const std::atomic<int>*>(user);
    return running->load() == 0 ? 1 : 0;
}

// A client handle for `url` with the settings every request to the update host shares.
// Null when the library refuses the handle or the address.
CurlHandle OpenClient(const std::string& url, CurlUrl* parsed) {
    EnsureCurlInitialised();
    CurlHandle curl(curl_easy_init());
    parsed->reset(curl_url());
    if (!curl || !*parsed) {
        return nullptr;
    }
    // Blanks in a model name are sent as they are, like every other byte of the values.
    if (curl_url_set(parsed->get(), CURLUPART_URL, url.c_str(), CURLU_ALLOW_SPACE) != CURLUE_OK) {
        WriteLog(kLogGeneral, "update service address refused: %s", url.c_str());
        return nullptr;
    }
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_CURLU, parsed->get());
    curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
    // The header block (Host, Connection) is an HTTP/1.1 one; HTTP/2 would rewrite it.
    curl_easy_setopt(c, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
    UseCaBundleFromEnvironment(c);
    UseSystemProxy(c, parsed->get());
    return curl;
}

long ResponseStatus(CURL* curl) {
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    return status;
}

}  // namespace

std::string GetUpdateHost() {
    const char* mirror = std::getenv("ORVANE_UPDATE_HOST");
    if (mirror && *mirror) {
        return mirror;
    }
    return g_bTestMode ? kTestUpdateHost : kProductionUpdateHost;
}

const char* CloudQueryType(const std::string& model) {
    return model.compare(0, 2, "VX") == 0 ? "2" : "1";
}

std::string BuildCloudQueryUrl(const std::string& host, const std::string& model,
                               const std::string& type, const std::string& language) {
    return "https://" + host + ":443/update/get/latest/firmware/by/model?model=" + model +
           "&type=" + type + "&language=" + language;
}

std::string CloudQueryHeaderBlock(const std::string& host) {
    return "Accept-Language: zh-cn\r\nAccept: */*\r\nContent-Type: "
           "application/x-www-form-urlencoded\r\ncharset: UTF-8\r\nHost: " +
           host + "\r\nConnection: Keep-Alive\r\n";
}

bool IsCloudReachable() {
    const std::string url = "https://" + GetUpdateHost() + ":443/";
    CurlUrl parsed;
    CurlHandle curl = OpenClient(url, &parsed);
    if (!curl) {
        return false;
    }
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, StopAtBody);
    // Start waits for this answer: a host that accepts the connection and then stalls (in the
    // TLS handshake, or dripping its headers) must not hold Start beyond the connect time-out.
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, kConnectTimeoutMs);
    CURLcode rc = curl_easy_perform(curl.get());
    long status = ResponseStatus(curl.get());
    // Stopping at the first body byte is how the body is left unread, not a failure.
    if (rc != CURLE_OK && rc != CURLE_WRITE_ERROR) {
        WriteLog(kLogGeneral, "IsCloudReachable %s: %s", url.c_str(), curl_easy_strerror(rc));
        return false;
    }
    if (status != 200) {
        WriteLog(kLogGeneral, "IsCloudReachable %s: status %ld", url.c_str(), status);
    }
    return status == 200;
}

int QueryCloudFirmware(const std::string& model, const std::string& type,
                       const std::string& language, CloudFirmwareInfo* info, std::string* message,
                       const std::atomic<int>* running) {
    *info = CloudFirmwareInfo{};
    message->clear();
    const std::string host = GetUpdateHost();
    const std::string url = BuildCloudQueryUrl(host, model, type, language);
    WriteLog(kLogInfo, "QueryCloudFirmware url=%s", url.c_str());
    CurlUrl parsed;
    CurlHandle curl = OpenClient(url, &parsed);
    if (!curl) {
        return kCloudConnectFailed;
    }
    CURL* c = curl.get();
    if (running) {
        curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, AbandonWhenStopped);
        curl_easy_setopt(c, CURLOPT_XFERINFODATA, const_cast<std::atomic<int>*>(running));
        curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    }

    // Opening the address: a plain GET whose reply is drained, so its connection can carry
    // the second request; only the second reply is read.
    BodySink drained;
    drained.limit = kMaxReplyBody;
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, CollectBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &drained);
    CURLcode rc = curl_easy_perform(c);
    if (IsNoReply(c, rc)) {
        WriteLog(kLogGeneral, "QueryCloudFirmware no reply: %s", curl_easy_strerror(rc));
        return kCloudNoReply;
    }
    if (rc != CURLE_OK && !(rc == CURLE_WRITE_ERROR && drained.overflowed)) {
        WriteLog(kLogGeneral, "QueryCloudFirmware open failed: %s", curl_easy_strerror(rc));
        return kCloudConnectFailed;
    }

    const std::string block = CloudQueryHeaderBlock(host);
    CurlHeaders headers;
    for (size_t start = 0, end; (end = block.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
        if (!AppendHeader(&headers, block.substr(start, end - start).c_str())) {
            return kCloudConnectFailed;
        }
    }
    BodySink body;
    body.limit = kMaxReplyBody;
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &body);
    rc = curl_easy_perform(c);
    if (rc == CURLE_WRITE_ERROR && body.overflowed) {
        WriteLog(kLogGeneral, "QueryCloudFirmware reply longer than %zu bytes", kMaxReplyBody);
        return kCloudBadReply;
    }
    if (rc != CURLE_OK) {
        WriteLog(kLogGeneral, "QueryCloudFirmware request failed: %s", curl_easy_strerror(rc));
        return kCloudConnectFailed;
    }
    int result = ParseCloudReply(body.text.data(), body.text.size(), info, message);
    if (result != kCloudQueryOk) {
        WriteLog(kLogGeneral, "QueryCloudFirmware model=%s result=%d", model.c_str(), result);
    }
    return result;
}

}  // namespace orvane
