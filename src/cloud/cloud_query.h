#pragma once

#include <atomic>
#include <string>

#include "cloud/cloud_reply.h"

namespace orvane {

// Set once from Config.ini (TestMode) before any thread starts: the test update host is used.
extern bool g_bTestMode;

// The update host of this build, or the one $ORVANE_UPDATE_HOST names (on-site mirrors,
// tests) when that is set and not empty. A plain host name, no scheme, no port.
std::string GetUpdateHost();

// "2" for models beginning with "VX" (exact case), "1" for every other model.
const char* CloudQueryType(const std::string& model);

// https://HOST:443/update/get/latest/firmware/by/model?model=M&type=T&language=L, the values
// inserted as they are (no percent-encoding).
std::string BuildCloudQueryUrl(const std::string& host, const std::string& model,
                               const std::string& type, const std::string& language);

// The request headers of a query, in their order.
std::string CloudQueryHeaderBlock(const std::string& host);

// True when the update host answers https://HOST:443/ with status 200 (the body is not
// read). The whole check (connection, TLS, status and headers) takes at most 4 s. Any thread;
// builds and closes its own connection.
bool IsCloudReachable();

// Asks the update service for the newest firmware of `model`. Returns kCloudQueryOk with
// `info` filled, kCloudNoReply, kCloudConnectFailed (also for a transfer that breaks after
// the reply began), kCloudBadReply (also for a body longer than 10239 bytes), or the
// service's own code with its "msg" in `message`. Gives up (kCloudConnectFailed) within
// about a second of `running` reading 0 (null: never). Never throws.
int QueryCloudFirmware(const std::string& model, const std::string& type,
                       const std::string& language, CloudFirmwareInfo* info, std::string* message,
                       const std::atomic<int>* running = nullptr);

}  // namespace orvane
