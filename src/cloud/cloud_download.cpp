#include "cloud/cloud_download.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <string>

#include "cloud/cloud_query.h"
#include "cloud/curl_client.h"
#include "platform/file.h"
#include "support/log.h"

namespace orvane {

namespace {

using Clock = std::chrono::steady_clock;

// How often the transfer loop looks at the running flag and its own time-outs: the bound on
// how long a Stop waits for a download to be abandoned.
constexpr int kPollMs = 100;

// Where the reply stands, written by the library's callbacks on the downloading thread.
struct ReplySink {
    CURL* curl = nullptr;
    const std::string* path = nullptr;
    long long minFreeBytes = kMinFreeAfterDownload;
    platform::DataFile file;
    long long written = 0;
    Clock::time_point lastByte;
    bool rejected = false;   // a status other than 200: no body is kept
    bool fileError = false;  // the local file could not be created or written
    bool oversized = false;
    bool noRoom = false;  // the announced length would leave too little free space
};

bool OpenLocalFile(ReplySink* sink) {
    if (sink->file.OpenWrite(*sink->path) && sink->file.Truncate()) {
        return true;
    }
    WriteLog(kLogMajor, "DownloadCloudFile cannot create %s: %s", sink->path->c_str(),
             platform::SystemErrorText(sink->file.LastError()).c_str());
    sink->fileError = true;
    return false;
}

long ResponseStatus(CURL* curl) {
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    return status;
}

// Whether the body the server announced may be written: an announced length the file could
// not be served at, or one that would fill the disk, is refused before its first byte.
bool AnnouncedLengthFits(ReplySink* sink) {
    curl_off_t length = -1;
    if (curl_easy_getinfo(sink->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK ||
        length < 0) {
        return true;  // not announced: the body is stopped at the bound as it arrives
    }
    if (length > kMaxDownloadBytes) {
        sink->oversized = true;
        return false;
    }
    const std::string folder = sink->path->substr(0, sink->path->rfind('/') + 1);
    const int64_t free = platform::FreeDiskBytes(folder.empty() ? "." : folder);
    if (free >= 0 && free - static_cast<int64_t>(length) < sink->minFreeBytes) {
        WriteLog(kLogMajor,
                 "DownloadCloudFile %lld bytes announced, %lld free in %s: refused to keep "
                 "%lld free",
                 static_cast<long long>(length), static_cast<long long>(free), folder.c_str(),
                 sink->minFreeBytes);
        sink->noRoom = true;
        return false;
    }
    return true;
}

size_t OnHeader(char*, size_t size, size_t count, void* user) {
    static_cast<ReplySink*>(user)->lastByte = Clock::now();
    return size * count;
}

// Returning less than was offered makes the library end the transfer with a write error.
size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<ReplySink*>(user);
    const size_t n = size * count;
    sink->lastByte = Clock::now();
    if (!sink->file.IsOpen()) {
        if (ResponseStatus(sink->curl) != 200) {
            sink->rejected = true;
            return 0;
        }
        if (!AnnouncedLengthFits(sink) || !OpenLocalFile(sink)) {
            return 0;
        }
    }
    if (sink->written + static_cast<long long>(n) > kMaxDownloadBytes) {
        sink->oversized = true;
        return 0;
    }
    if (!sink->file.Write(data, n)) {
        WriteLog(kLogMajor, "DownloadCloudFile write to %s failed: %s", sink->path->c_str(),
                 platform::SystemErrorText(sink->file.LastError()).c_str());
        sink->fileError = true;
        return 0;
    }
    sink->written += static_cast<long long>(n);
    return n;
}

// The address to fetch: an https one as it is (TLS to its own host), any other as a
// plain-HTTP one for the same server and port. False when it has no server or no port (an
// unknown scheme without a port).
bool DownloadAddress(const std::string& address, CurlUrl* url, bool* tls) {
    url->reset(curl_url());
    if (!*url || curl_url_set(url->get(), CURLUPART_URL, address.c_str(),
                              CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
        return false;
    }
    char* scheme = nullptr;
    char* host = nullptr;
    char* port = nullptr;
    bool ok = curl_url_get(url->get(), CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
              curl_url_get(url->get(), CURLUPART_HOST, &host, 0) == CURLUE_OK &&
              curl_url_get(url->get(), CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK;
    CurlText schemeText(scheme);
    CurlText hostText(host);
    CurlText portText(port);
    if (!ok || !hostText || !*hostText) {
        return false;
    }
    std::string lowerScheme = schemeText ? schemeText.get() : "";
    std::transform(lowerScheme.begin(), lowerScheme.end(), lowerScheme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    *tls = lowerScheme == "https";
    if (*tls) {
        return true;
    }
    // The port is set before the scheme changes, so an address of another scheme keeps its
    // default port.
    return curl_url_set(url->get(), CURLUPART_PORT, portText.get(), 0) == CURLUE_OK &&
           curl_url_set(url->get(), CURLUPART_SCHEME, "http", 0) == CURLUE_OK;
}

// Whether two header lines start with the same name (and its colon), ignoring case.
bool SameHeaderName(const char* a, const char* b, size_t nameLength) {
    for (size_t i = 0; i < nameLength; ++i) {
        if (a[i] == '\0' || std::tolower(static_cast<unsigned char>(a[i])) !=
                                std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// The download header lines in their order, each added only when the list has no header of
// that name yet. Without `updateHost` (a TLS download) Host is left to the client library,
// which names the address's own host, the one the certificate is checked for.
bool BuildHeaders(const std::string& updateHost, CurlHeaders* headers) {
    const std::string lines[] = {
        "Accept-Language: zh-cn",
        "Accept: */*",
        "Content-Type: application/x-www-form-urlencoded",
        "charset: UTF-8",
        "User-Agent: vextra/product-retrospect",
        "Host: " + updateHost,
        "Connection: Keep-Alive",
    };
    for (const std::string& line : lines) {
        if (updateHost.empty() && line.compare(0, 5, "Host:") == 0) {
            continue;
        }
        const size_t nameLength = line.find(':') + 1;
        bool present = false;
        for (const curl_slist* h = headers->get(); h && !present; h = h->next) {
            present = SameHeaderName(h->data, line.c_str(), nameLength);
        }
        if (!present && !AppendHeader(headers, line.c_str())) {
            return false;
        }
    }
    return true;
}

CurlHandle OpenRequest(CURLU* url, bool tls, curl_slist* headers, const DownloadLimits& limits,
                       ReplySink* sink) {
    CurlHandle curl(curl_easy_init());
    if (!curl) {
        return nullptr;
    }
    CURL* c = curl.get();
    sink->curl = c;
    curl_easy_setopt(c, CURLOPT_CURLU, url);
    curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, tls ? "https" : "http");
    if (tls) {
        // The library's defaults, said out loud: the chain is checked against the CA store and
        // the certificate must name the address's host.
        curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
        UseCaBundleFromEnvironment(c);
    }
    UseSystemProxy(c, url);
    curl_easy_setopt(c, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.iConnectTimeoutMs));
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, sink);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, sink);
    return curl;
}

enum class Ending { kDone, kAbandoned, kSendStalled, kReceiveStalled };

// Why the transfer loop should stop now, if it should: the send time-out runs from the
// connection until the request has left, the receive time-out from then until each next
// byte of the reply. The connect time-out is the library's own.
Ending CheckTimeouts(CURL* curl, const ReplySink& sink, const DownloadLimits& limits,
                     Clock::time_point start, Clock::time_point* requestSent) {
    curl_off_t connectedUs = 0;
    if (curl_easy_getinfo(curl, CURLINFO_CONNECT_TIME_T, &connectedUs) != CURLE_OK ||
        connectedUs == 0) {
        return Ending::kDone;
    }
    const Clock::time_point now = Clock::now();
    long requestSize = 0;
    curl_easy_getinfo(curl, CURLINFO_REQUEST_SIZE, &requestSize);
    if (requestSize == 0) {
        const auto sending = now - (start + std::chrono::microseconds(connectedUs));
        return sending > std::chrono::milliseconds(limits.iSendTimeoutMs) ? Ending::kSendStalled
                                                                          : Ending::kDone;
    }
    if (*requestSent == Clock::time_point{}) {
        *requestSent = now;
    }
    const Clock::time_point last = std::max(*requestSent, sink.lastByte);
    return now - last > std::chrono::milliseconds(limits.iReceiveTimeoutMs)
               ? Ending::kReceiveStalled
               : Ending::kDone;
}

// Runs the transfer to its end on the calling thread. kDone with the library's result in
// `result`, or why it was given up.
Ending RunTransfer(CURL* curl, ReplySink* sink, const DownloadLimits& limits,
                   const std::atomic<int>* running, CURLcode* result) {
    CurlMulti multi(curl_multi_init());
    if (!multi || curl_multi_add_handle(multi.get(), curl) != CURLM_OK) {
        *result = CURLE_OUT_OF_MEMORY;
        return Ending::kDone;
    }
    const Clock::time_point start = Clock::now();
    Clock::time_point requestSent{};
    Ending ending = Ending::kDone;
    *result = CURLE_OK;
    for (;;) {
        int active = 0;
        if (curl_multi_perform(multi.get(), &active) != CURLM_OK) {
            *result = CURLE_RECV_ERROR;
            break;
        }
        if (active == 0) {
            int queued = 0;
            CURLMsg* msg = curl_multi_info_read(multi.get(), &queued);
            *result = msg && msg->msg == CURLMSG_DONE ? msg->data.result : CURLE_RECV_ERROR;
            break;
        }
        if (running && running->load() == 0) {
            ending = Ending::kAbandoned;
            break;
        }
        ending = CheckTimeouts(curl, *sink, limits, start, &requestSent);
        if (ending != Ending::kDone) {
            break;
        }
        curl_multi_poll(multi.get(), nullptr, 0, kPollMs, nullptr);
    }
    curl_multi_remove_handle(multi.get(), curl);
    return ending;
}

// The result code of a finished transfer.
int TransferResult(CURLcode rc, ReplySink* sink) {
    if (sink->rejected) {
        return kDownloadServerReject;
    }
    if (sink->fileError) {
        return kDownloadFileError;
    }
    if (sink->oversized) {
        WriteLog(kLogMajor, "DownloadCloudFile body larger than %lld bytes", kMaxDownloadBytes);
        return kDownloadError;
    }
    if (sink->noRoom) {
        return kDownloadError;
    }
    const long status = ResponseStatus(sink->curl);
    if (rc == CURLE_OK) {
        if (status != 200) {
            return kDownloadServerReject;
        }
        // An empty body: the file is still made, so the digest check reports it.
        return sink->file.IsOpen() || OpenLocalFile(sink) ? kDownloadOk : kDownloadFileError;
    }
    WriteLog(kLogMajor, "DownloadCloudFile transfer failed: %s", curl_easy_strerror(rc));
    switch (rc) {
        case CURLE_URL_MALFORMAT:
            return kDownloadUrlError;
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_SSL_CONNECT_ERROR:  // no TLS session, or a certificate that does not verify
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
            return status == 0 && sink->lastByte == Clock::time_point{} ? kDownloadConnectFailed
                                                                        : kDownloadRequestFailed;
        default:
            return status != 0 && status != 200 ? kDownloadServerReject : kDownloadRequestFailed;
    }
}

}  // namespace

std::string UnescapeXmlEntities(std::string text) {
    static const char* const kEntities[][2] = {
        {"&amp;", "&"}, {"&apos;", "'"}, {"&gt;", ">"}, {"&lt;", "<"}, {"&quot;", "\""},
    };
    for (const auto& entity : kEntities) {
        const size_t length = std::strlen(entity[0]);
        std::string out;
        size_t from = 0;
        for (size_t at; (at = text.find(entity[0], from)) != std::string::npos;
             from = at + length) {
            out.append(text, from, at - from).append(entity[1]);
        }
        text = out.append(text, from, std::string::npos);
    }
    return text;
}

int DownloadCloudFile(const std::string& address, const std::string& localPath,
                      const DownloadLimits& limits, const std::atomic<int>* running) {
    if (address.empty() || localPath.empty()) {
        return kDownloadEmptyParameter;
    }
    try {
        const std::string url = UnescapeXmlEntities(address);
        WriteLog(kLogInfo, "DownloadCloudFile url=%s path=%s", url.c_str(), localPath.c_str());
        EnsureCurlInitialised();
        CurlUrl parsed;
        bool tls = false;
        if (!DownloadAddress(url, &parsed, &tls)) {
            WriteLog(kLogMajor, "DownloadCloudFile address refused: %s", url.c_str());
            return kDownloadUrlError;
        }
        CurlHeaders headers;
        if (!BuildHeaders(tls ? std::string() : GetUpdateHost(), &headers)) {
            return kDownloadRequestFailed;
        }
        ReplySink sink;
        sink.path = &localPath;
        sink.minFreeBytes = limits.llMinFreeBytes;
        CurlHandle curl = OpenRequest(parsed.get(), tls, headers.get(), limits, &sink);
        if (!curl) {
            return kDownloadConnectFailed;
        }
        CURLcode rc = CURLE_OK;
        switch (RunTransfer(curl.get(), &sink, limits, running, &rc)) {
            case Ending::kDone:
                return TransferResult(rc, &sink);
            case Ending::kAbandoned:
                WriteLog(kLogInfo, "DownloadCloudFile abandoned: the service stops");
                return kDownloadError;
            case Ending::kSendStalled:
                WriteLog(kLogMajor, "DownloadCloudFile request not sent within %d ms",
                         limits.iSendTimeoutMs);
                return kDownloadRequestFailed;
            case Ending::kReceiveStalled:
                WriteLog(kLogMajor, "DownloadCloudFile no reply byte within %d ms",
                         limits.iReceiveTimeoutMs);
                return kDownloadRequestFailed;
        }
    } catch (const std::exception& e) {
        WriteLog(kLogMajor, "DownloadCloudFile failed: %s", e.what());
    }
    return kDownloadError;
}

}  // namespace orvane
