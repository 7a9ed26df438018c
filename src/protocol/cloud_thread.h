#pragma once

#include <map>
#include <string>

#include "cloud/cloud_download.h"
#include "cloud/cloud_firmware_file.h"
#include "firmware/upgrade_catalogue.h"
#include "protocol/cloud_request_queue.h"
#include "protocol/device_table.h"
#include "protocol/engine_counters.h"
#include "protocol/request_handler.h"
#include "protocol/run_state.h"

namespace orvane {

class ServiceView;

// The cloud thread's work: serves the parked requests one at a time (query, download, digest,
// catalogue) and then answers each device through the request handling.
class CloudThread {
  public:
    CloudThread(CloudRequestQueue& requests, UpgradeCatalogue& catalogue, RequestHandler& handler,
                ServiceView& view, DeviceTable& table, EngineCounters& counters)
        : m_requests(requests),
          m_catalogue(catalogue),
          m_handler(handler),
          m_view(view),
          m_table(table),
          m_counters(counters) {}
    CloudThread(const CloudThread&) = delete;
    CloudThread& operator=(const CloudThread&) = delete;

    // The thread's body for one run; it gives up a download in hand within a poll of the
    // run's flag.
    int CloudFirmwareProc(RunState& run);

    // Time-outs of the downloads; set before Start.
    void SetDownloadLimits(const DownloadLimits& limits) { m_cloudDownloadLimits = limits; }
    // The cloud query's language value for an effective language; empty for none.
    std::string LanguageCode(int language) const {
        auto it = m_mapLanguageCode.find(language);
        return it == m_mapLanguageCode.end() ? std::string() : it->second;
    }

  private:
    void ServeCloudRequest(const CloudRequest& request, RunState& run);
    FirmwareCheck VouchedDownloadCheck();
    void ShowCloudStatus(const CloudRequest& request, const std::string& status);

    CloudRequestQueue& m_requests;
    UpgradeCatalogue& m_catalogue;
    RequestHandler& m_handler;
    ServiceView& m_view;
    DeviceTable& m_table;
    EngineCounters& m_counters;
    DownloadLimits m_cloudDownloadLimits;
    // Language code of the cloud query by effective language (g_iLanguage).
    const std::map<int, std::string> m_mapLanguageCode{{1, "zh_CN"}, {2, "en"}};
};

}  // namespace orvane
