#include "tools/devsim/road_runner.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "platform/thread.h"
#include "tools/devsim/reply_inbox.h"

namespace orvane::devsim {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The first request of device i carries this Cseq; each device counts on from its own.
int FirstCseq(size_t index) {
    return static_cast<int>(1000 + 1000 * index);
}

// A device needs little stack (its buffers are on the heap); with the system's 8 MiB a
// thousand devices would reserve 8 GiB of address space.
constexpr size_t kDeviceStackBytes = 256 * 1024;
constexpr int kJoinPollMs = 60000;

// Device i powers on at i/N of the spread after the start, so the spread is even and the
// same on every run.
std::chrono::milliseconds PowerOnDelay(size_t index, const RunPlan& plan) {
    return std::chrono::milliseconds(static_cast<long long>(plan.iStartSpreadMs) *
                                     static_cast<long long>(index) /
                                     static_cast<long long>(plan.uDevices));
}

}  // namespace

std::string FormatMac(uint64_t mac) {
    char text[18];
    std::snprintf(
        text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X",
        static_cast<unsigned>((mac >> 40) & 0xFF), static_cast<unsigned>((mac >> 32) & 0xFF),
        static_cast<unsigned>((mac >> 24) & 0xFF), static_cast<unsigned>((mac >> 16) & 0xFF),
        static_cast<unsigned>((mac >> 8) & 0xFF), static_cast<unsigned>(mac & 0xFF));
    return text;
}

bool ParseMac(const std::string& text, uint64_t* out) {
    if (text.size() != 17) {
        return false;
    }
    uint64_t v = 0;
    for (size_t i = 0; i < 17; i += 3) {
        int hi = HexDigit(text[i]);
        int lo = HexDigit(text[i + 1]);
        if (hi < 0 || lo < 0 || (i + 2 < 17 && text[i + 2] != ':')) {
            return false;
        }
        v = (v << 8) | static_cast<uint64_t>(hi * 16 + lo);
    }
    *out = v;
    return true;
}

bool ChosenToFail(size_t index, double share) {
    // Device i fails when the running count floor(k * share) steps up at k = i + 1.
    const double i = static_cast<double>(index);
    return std::floor((i + 1) * share + 1e-9) > std::floor(i * share + 1e-9);
}

double Percentile(std::vector<double> samples, double p) {
    if (samples.empty()) {
        return 0;
    }
    std::sort(samples.begin(), samples.end());
    double rank = std::ceil(p / 100.0 * static_cast<double>(samples.size()));
    size_t at = rank < 1 ? 0 : static_cast<size_t>(rank) - 1;
    return samples[std::min(at, samples.size() - 1)];
}

RoadTotals Summarize(const std::vector<DeviceOutcome>& outcomes, double roadSeconds,
                     uint64_t strayReplies) {
    RoadTotals t;
    std::vector<double> latencies;
    for (const DeviceOutcome& o : outcomes) {
        ++t.uDevices;
        t.uAnswered += o.bAnswered ? 1 : 0;
        t.uDownloaded += o.bDownloaded ? 1 : 0;
        t.uFailures += o.bIntended ? 0 : 1;
        t.uInjected += o.ending == Ending::kInjectedFailure ? 1 : 0;
        t.uBytes += o.uBytes;
        t.uRequestResends += o.uRequestResends;
        t.uTftpResends += o.uTftpResends;
        t.uTftpDupAcks += o.uTftpDupAcks;
        latencies.insert(latencies.end(), o.vecLatencyMs.begin(), o.vecLatencyMs.end());
    }
    t.dReplyMedianMs = Percentile(latencies, 50);
    t.dReplyP99Ms = Percentile(latencies, 99);
    t.dReplyMaxMs = Percentile(latencies, 100);
    t.dRoadSeconds = roadSeconds;
    t.uStrayReplies = strayReplies;
    return t;
}

std::string SummaryLine(const RoadTotals& t) {
    char line[512];
    std::snprintf(line, sizeof line,
                  "devices=%zu answered=%zu downloaded=%zu bytes=%llu failures=%zu injected=%zu "
                  "reply-median-ms=%.3f reply-p99-ms=%.3f reply-max-ms=%.3f road-s=%.3f",
                  t.uDevices, t.uAnswered, t.uDownloaded, static_cast<unsigned long long>(t.uBytes),
                  t.uFailures, t.uInjected, t.dReplyMedianMs, t.dReplyP99Ms, t.dReplyMaxMs,
                  t.dRoadSeconds);
    return line;
}

size_t CountOvertaken(const std::vector<DeviceOutcome>& outcomes, double toleranceMs) {
    std::vector<const DeviceOutcome*> timed;
    for (const DeviceOutcome& o : outcomes) {
        if (o.bTimed) {
            timed.push_back(&o);
        }
    }
    std::sort(timed.begin(), timed.end(), [](const DeviceOutcome* a, const DeviceOutcome* b) {
        return a->tFirstAsk < b->tFirstAsk;
    });
    std::chrono::steady_clock::time_point earliestLater;
    // From the last to ask back to the first, beside the earliest answer of those after it.
    size_t overtaken = 0;
    for (size_t i = timed.size(); i-- > 1;) {
        const DeviceOutcome& later = *timed[i];
        const DeviceOutcome& earlier = *timed[i - 1];
        earliestLater =
            i + 1 == timed.size() ? later.tAnswered : std::min(earliestLater, later.tAnswered);
        const double behindMs =
            std::chrono::duration<double, std::milli>(earlier.tAnswered - earliestLater).count();
        overtaken += behindMs > toleranceMs ? 1 : 0;
    }
    return overtaken;
}

std::string OrderLine(const RoadTotals& t) {
    return "order peak-under-way=" + std::to_string(t.iPeakUnderWay) +
           " overtaken=" + std::to_string(t.uOvertaken);
}

std::string ResendLine(const RoadTotals& t) {
    char line[256];
    std::snprintf(line, sizeof line,
                  "resends tftp=%llu tftp-dup-acks=%llu requests=%llu stray-replies=%llu",
                  static_cast<unsigned long long>(t.uTftpResends),
                  static_cast<unsigned long long>(t.uTftpDupAcks),
                  static_cast<unsigned long long>(t.uRequestResends),
                  static_cast<unsigned long long>(t.uStrayReplies));
    return line;
}

std::vector<DeviceOutcome> RunRoad(const RunPlan& plan, ReplyInbox* inbox, double* roadSeconds,
                                   int* peakUnderWay) {
    UnderWayGauge gauge;
    RoadConfig road = plan.road;
    road.pUnderWay = &gauge;
    std::vector<DeviceIdentity> ids(plan.uDevices);
    for (size_t i = 0; i < plan.uDevices; ++i) {
        ids[i].index = i;
        ids[i].szMac = FormatMac(plan.uFirstMac + i);
        ids[i].iFirstCseq = FirstCseq(i);
        ids[i].bInjectFailure = plan.road.iFailEvent >= 0 && ChosenToFail(i, plan.dFailShare);
    }
    std::vector<DeviceOutcome> outcomes(plan.uDevices);
    std::atomic<size_t> next{0};
    std::mutex startLock;
    std::condition_variable startSignal;
    bool go = false;
    std::chrono::steady_clock::time_point start;  // written before `go`, read after it
    auto body = [&] {
        try {
            {
                std::unique_lock<std::mutex> lock(startLock);
                startSignal.wait(lock, [&] { return go; });
            }
            for (size_t i = next++; i < plan.uDevices; i = next++) {
                if (plan.iStartSpreadMs > 0) {
                    std::this_thread::sleep_until(start + PowerOnDelay(i, plan));
                }
                outcomes[i] = RunDevice(road, ids[i], inbox);  // catches everything itself
            }
        } catch (const std::exception& e) {
            // The devices this thread did not run keep their unfinished outcome.
            std::fprintf(stderr, "orvane-devsim: device thread stopped: %s\n", e.what());
        }
        return 0;
    };
    std::vector<platform::Thread> threads;
    const size_t count = std::max<size_t>(1, std::min(plan.uConcurrency, plan.uDevices));
    threads.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        platform::Thread t;
        if (!t.Start(body, platform::ThreadOptions{kDeviceStackBytes})) {
            std::fprintf(stderr, "orvane-devsim: %zu device threads only\n", i);
            break;
        }
        threads.push_back(std::move(t));
    }
    // Every thread is waiting: the devices leave together, and the clock starts with them.
    {
        std::lock_guard<std::mutex> lock(startLock);
        start = std::chrono::steady_clock::now();
        go = true;
    }
    startSignal.notify_all();
    for (platform::Thread& t : threads) {
        while (!t.Wait(kJoinPollMs)) {
            // Every device bounds its own road; this only waits for the slowest.
        }
    }
    *roadSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    *peakUnderWay = gauge.iPeak;
    return outcomes;
}

}  // namespace orvane::devsim
