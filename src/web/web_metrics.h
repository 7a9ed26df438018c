#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace prometheus {
class Counter;
class Gauge;
class Registry;
}  // namespace prometheus

namespace orvane {

class OrvaneEngine;
class UpgradeRecord;

// The service's figures in the Prometheus text format. The engine, the TFTP service and the
// record keep plain atomic totals; each scrape copies them into a prometheus-cpp registry and
// serializes that, so the hot paths never touch the registry. Read-only towards the engine.
class WebMetrics {
  public:
    WebMetrics(const OrvaneEngine& engine, const UpgradeRecord& record, const std::string& version);
    ~WebMetrics();
    WebMetrics(const WebMetrics&) = delete;
    WebMetrics& operator=(const WebMetrics&) = delete;

    // The exposition text of every metric as it is now; any thread.
    std::string Scrape();

  private:
    // A registry counter that follows a running total kept elsewhere.
    struct Follower {
        prometheus::Counter* counter;
        uint64_t (*read)(const OrvaneEngine&, const UpgradeRecord&);
        uint64_t last;
    };

    const OrvaneEngine& m_engine;
    const UpgradeRecord& m_record;
    std::mutex m_csScrape;  // one scrape at a time updates the registry
    std::shared_ptr<prometheus::Registry> m_registry;
    std::vector<Follower> m_vecFollowers;
    prometheus::Gauge* m_pTransfersActive = nullptr;
    prometheus::Gauge* m_pRows = nullptr;
    prometheus::Gauge* m_pRunning = nullptr;
    prometheus::Gauge* m_pWaiting = nullptr;
    prometheus::Gauge* m_pHalted = nullptr;
};

}  // namespace orvane
