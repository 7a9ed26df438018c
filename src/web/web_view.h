#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "protocol/device_table.h"

namespace orvane {

class OrvaneEngine;
class WebGate;
class WebServer;
class WorkerPool;
class UpgradeRecord;
class WebMetrics;

// Limits of the web view: a handful of workers serve every browser once its request has
// arrived whole, requests beyond wait in a short queue (beyond that, 503), and each request is
// small and timed.
struct WebLimits {
    int iWorkers = 8;             // requests served at once
    int iQueued = 64;             // whole requests waiting for a worker
    int iTimeoutSeconds = 5;      // each write of a response
    size_t uMaxBody = 1024;       // request body (the view takes no uploads)
    size_t uMaxHead = 16 * 1024;  // request line and headers together
    int iHeadMs = 10000;          // for the whole request to arrive, from the accept
    int iPerAddress = 16;         // connections of one client address
    int iMaxWaiting = 256;        // connections still sending their requests
};

// The headless service's read-only web view: "/" (the device table, updated live by polling),
// "/api/devices" (rows and counters as JSON), "/upgrades.csv" (the record), "/healthz" and
// "/metrics". It observes the device table like the front-ends and runs on its own threads:
// a request copies the model once per change, outside its lock, and a slow or vanished browser
// ties up one worker until its time-out, never the service.
class WebView : public DeviceTableObserver {
  public:
    WebView(OrvaneEngine& engine, const UpgradeRecord& record, const std::string& version,
            WebLimits limits = {});
    ~WebView() override;
    WebView(const WebView&) = delete;
    WebView& operator=(const WebView&) = delete;

    // Binds ADDR:PORT (port 0 picks a free one). False with the reason in `error`.
    bool Bind(const std::string& addrPort, std::string* error);
    // Names besides the bound address and "localhost" that the Host header may carry.
    void SetServedHosts(const std::vector<std::string>& names);
    // Serves on threads of its own until Stop (or destruction).
    void Start();
    void Stop();
    int Port() const { return m_iPort; }

    void OnDeviceTableChanged(const DeviceTableChange& change) override;
    void OnDeviceOutcome(const IpcInfo& record, bool success) override;

    // The body of /api/devices and its version: rebuilt after a change of the model, at most
    // once per 250 ms (a poll meanwhile gets the last one).
    std::shared_ptr<const std::string> DevicesJson(uint64_t* version);
    std::string MetricsText();

  private:
    void AddRoutes();
    std::string BuildDevicesJson(uint64_t version);

    OrvaneEngine& m_engine;
    const UpgradeRecord& m_record;
    const WebLimits m_limits;
    std::unique_ptr<WebMetrics> m_metrics;
    std::unique_ptr<WebGate> m_gate;
    std::unique_ptr<WebServer> m_server;
    std::unique_ptr<WorkerPool> m_pool;  // depends-on: m_gate, m_server (its jobs use both)
    std::vector<std::string> m_vecHosts;
    int m_iPort = 0;

    // Bumped by every change of the model; the cached JSON is rebuilt when it moved.
    std::atomic<uint64_t> m_uChanges{1};
    std::mutex m_csCache;
    std::shared_ptr<const std::string> m_cachedJson;  // guarded by m_csCache
    uint64_t m_uCachedVersion = 0;                    // guarded by m_csCache
    int64_t m_iCachedAtMs = 0;                        // guarded by m_csCache

    // Outcome of each row that has one (true success), cleared with the rows; bounded by them.
    std::mutex m_csOutcome;
    std::map<int, bool> m_mapOutcome;
};

// Splits "ADDR:PORT" (the address may be [v6]); false when the port is not 0..65535.
bool ParseHostPort(const std::string& text, std::string* host, int* port);

// Whether a request's Host header names this service: the address the connection came in on,
// "localhost" or one of `names` (any letter case), with the port it came in on (no port only
// for port 80).
bool IsServedHost(const std::string& header, const std::string& localAddr, int localPort,
                  const std::vector<std::string>& names);

}  // namespace orvane
