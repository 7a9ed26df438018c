#pragma once

#include <atomic>
#include <string>

namespace orvane {

// Result codes of a firmware download; GetCloudErrorText names each.
constexpr int kDownloadOk = 0;
constexpr int kDownloadEmptyParameter = 1;  // empty address or local path
constexpr int kDownloadUrlError = 2;        // no server, port and object in the address
constexpr int kDownloadConnectFailed = 3;   // no connection to the server
constexpr int kDownloadRequestFailed = 4;   // the request, its status or its body broke off
constexpr int kDownloadServerReject = 5;    // HTTP status other than 200
constexpr int kDownloadFileError = 6;       // the local file cannot be created or written
constexpr int kDownloadError = 7;           // refused identifier, abandoned, oversized file
constexpr int kDownloadMd5Error = 8;        // the file's digest differs from the announced one
constexpr int kDownloadUnlisted = 9;        // verified, but the signed list does not vouch for it

// Files this large cannot be served over TFTP, so a body that grows past it is refused.
constexpr long long kMaxDownloadBytes = (1LL << 31) - 1;

// Room a download must leave on the firmware folder's file system: the log, the settings and
// uploads live on it too.
constexpr long long kMinFreeAfterDownload = 64LL << 20;

// How long a download may wait: for the connection, for the request to leave, and for each
// next byte of the reply (status line and body alike); and the room it must leave.
struct DownloadLimits {
    int iConnectTimeoutMs = 20000;
    int iSendTimeoutMs = 10000;
    int iReceiveTimeoutMs = 30000;
    long long llMinFreeBytes = kMinFreeAfterDownload;
};

// Fetches `address` (XML entities resolved first) from the server and port it names (the
// scheme's default port when none is given) and writes the body to `localPath`, truncating
// what was there. An http address is fetched over plain HTTP with the download header block,
// Host set to the update host; an https one over TLS, the server's certificate verified for
// the address's host against the system's CA store (or CURL_CA_BUNDLE), with Host that host.
// The local file is created only once the status is 200 and an announced Content-Length fits
// (below 2 GiB, leaving `limits.llMinFreeBytes` free); on a failure after that it is left as
// it is (the caller removes it). Gives up with kDownloadError within about 100 ms of `running`
// reading 0 (null: never). Returns one of the kDownload* codes 0 to 7; never throws.
int DownloadCloudFile(const std::string& address, const std::string& localPath,
                      const DownloadLimits& limits = {}, const std::atomic<int>* running = nullptr);

// Replaces "&amp;", "&apos;", "&gt;", "&lt;" and "&quot;" in that order, each over the whole
// result of the one before (so "&amp;lt;" becomes "<").
std::string UnescapeXmlEntities(std::string text);

}  // namespace orvane
