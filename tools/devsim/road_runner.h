#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/devsim/device_road.h"

namespace orvane::devsim {

class ReplyInbox;

constexpr size_t kMaxDevices = 10000;
// Each device on the road has a thread and two sockets.
constexpr size_t kMaxConcurrency = kMaxDevices;

struct RunPlan {
    RoadConfig road;
    size_t uDevices = 1;
    size_t uConcurrency = kMaxConcurrency;  // devices on the road at once
    uint64_t uFirstMac = 0x020000000001;    // device i gets this + i
    double dFailShare = 0;                  // share of devices that report the failure
    int iStartSpreadMs = 0;                 // device i powers on at i * this / uDevices ms
};

// "02:00:00:00:00:01" <-> 48-bit value (higher bits are not shown); upper-case hex pairs
// joined by ":".
std::string FormatMac(uint64_t mac);
bool ParseMac(const std::string& text, uint64_t* out);

// Whether device `index` is one of the share chosen to fail; the chosen ones are spread evenly
// (a share of 0.25 picks every fourth device).
bool ChosenToFail(size_t index, double share);

// The nearest-rank percentile (0 < p <= 100) of the samples; 0 without samples.
double Percentile(std::vector<double> samples, double p);

struct RoadTotals {
    size_t uDevices = 0;
    size_t uAnswered = 0;
    size_t uDownloaded = 0;
    size_t uFailures = 0;  // devices that did not end as intended
    size_t uInjected = 0;  // devices that reported their injected failure
    uint64_t uBytes = 0;
    double dReplyMedianMs = 0;
    double dReplyP99Ms = 0;
    double dReplyMaxMs = 0;
    double dRoadSeconds = 0;
    uint64_t uRequestResends = 0;
    uint64_t uTftpResends = 0;
    uint64_t uTftpDupAcks = 0;
    uint64_t uStrayReplies = 0;
    int iPeakUnderWay = 0;  // the most devices between assignment and last report at once
    size_t uOvertaken = 0;  // CountOvertaken
};

RoadTotals Summarize(const std::vector<DeviceOutcome>& outcomes, double roadSeconds,
                     uint64_t strayReplies);
// Devices answered more than `toleranceMs` after a device that first asked later than they
// did: a server that answers in the order devices first asked overtakes none by more than
// about one request interval (when several places free at once, their waiters are answered
// as each asks again).
size_t CountOvertaken(const std::vector<DeviceOutcome>& outcomes, double toleranceMs);

// The summary line, the second line with the resend counts, the third with the order.
std::string SummaryLine(const RoadTotals& t);
std::string ResendLine(const RoadTotals& t);
std::string OrderLine(const RoadTotals& t);

// Sends every device down the road, at most uConcurrency at once, all starting together (or
// spread over iStartSpreadMs); the whole time from that start to the last device's end goes to
// `roadSeconds`, the most devices under way at once to `peakUnderWay`.
std::vector<DeviceOutcome> RunRoad(const RunPlan& plan, ReplyInbox* inbox, double* roadSeconds,
                                   int* peakUnderWay);

}  // namespace orvane::devsim
