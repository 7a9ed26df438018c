#pragma once

#include <atomic>
#include <cstdint>

#include "firmware/signed_list.h"

namespace orvane {

// Running totals of the engine's work since the process began, for the metrics: plain
// atomics bumped where the work happens, read by whoever asks, never reset by Start.
struct EngineCounters {
    std::atomic<uint64_t> requests{0};            // address requests handed to a worker
    std::atomic<uint64_t> requestsDropped{0};     // requests dropped while every worker was busy
    std::atomic<uint64_t> requestsOutOfScope{0};  // requests of devices outside the run's scope
    std::atomic<uint64_t> reportsDropped{0};      // reports the dispatcher's queue refused
    std::atomic<uint64_t> cloudQueriesOk{0};
    std::atomic<uint64_t> cloudQueriesFailed{0};
    std::atomic<uint64_t> cloudDownloadsOk{0};
    std::atomic<uint64_t> cloudDownloadsFailed{0};
    TrustRefusalCounts firmwareRefused;  // files and lists the signed list's check refused
};

}  // namespace orvane
