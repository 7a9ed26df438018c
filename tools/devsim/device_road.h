#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/udp_socket.h"
#include "protocol/report_stage.h"
#include "tools/devsim/tftp_fetch.h"

namespace orvane::devsim {

class ReplyInbox;

enum class DeviceKind { kIpc, kNvr };

// How far each device goes: the whole road; only as far as the reply (for measuring the
// server's answer); or no request at all, only the TFTP download of a named file (the plain
// download the whole road is compared with).
enum class RoadMode { kFull, kRequestOnly, kFetchOnly };

// The stages a device of this kind reports, in order: an IPC ends with the file system, an
// NVR goes on through every stage to the update.
std::vector<int> StagesOf(DeviceKind kind);

// The device's own messages. "Version:" carries the model with each "-" written as "*",
// a "-" and the version number.
std::string DeviceVersionField(const std::string& model, const std::string& version);
std::string BuildRequest(const std::string& versionField, int cseq, const std::string& mac);
// `event` is one of kReportStages.
std::string BuildReport(int event, const std::string& ip, const std::string& mac, int schedule,
                        int state, const std::string& versionField);

// The devices of a road between their assignment reply and their last report, and the most
// that ever were at once.
struct UnderWayGauge {
    std::atomic<int> iNow{0};
    std::atomic<int> iPeak{0};
};

struct RoadConfig {
    platform::Endpoint server;  // where requests go (port 10011)
    uint16_t uTftpPort = 69;
    std::string szVersionField;
    DeviceKind kind = DeviceKind::kIpc;
    RoadMode mode = RoadMode::kFull;
    int iRequestIntervalMs = 3000;  // an unanswered request is sent again after this
    int iRequestTries = 5;
    int iReportGapMs = 0;  // pause between two reports of one device
    TftpFetchOptions fetch;
    // When not 0: device N (from 0) fetches from this address plus N, as devices that each
    // took an address of their own would (host order).
    uint32_t uSourceFrom = 0;
    std::string szFetchName;         // RoadMode::kFetchOnly: the file every device fetches
    bool bExpectNoFirmware = false;  // the short reply is the intended answer
    int iFailEvent = -1;             // stage at which devices chosen to fail report it
    int iFailState = static_cast<int>(ReportState::kFailed);
    const std::string* pReference = nullptr;  // every download must equal it
    std::string szKeepDir;                    // downloads are written here when set
    int iRounds = 1;                          // the road is run this many times per device
    UnderWayGauge* pUnderWay = nullptr;       // counts the devices under way when set
};

struct DeviceIdentity {
    size_t index = 0;
    std::string szMac;
    int iFirstCseq = 0;
    bool bInjectFailure = false;
};

enum class Ending {
    kUpgraded,         // every stage reported done
    kRequestAnswered,  // RoadMode::kRequestOnly: the assignment reply came
    kFetched,          // RoadMode::kFetchOnly: the file came
    kNoFirmware,       // the short reply (intended only with bExpectNoFirmware)
    kInjectedFailure,  // reported the failure it was told to
    kNoAnswer,
    kBadReply,
    kFetchFailed,
    kMismatch,
    kError,
};
const char* EndingName(Ending ending);

struct DeviceOutcome {
    Ending ending = Ending::kError;
    bool bIntended = false;
    std::string szReason;      // for an unintended ending
    bool bAnswered = false;    // every round got its reply
    bool bDownloaded = false;  // every round's download completed
    uint64_t uBytes = 0;
    std::vector<double> vecLatencyMs;  // one per answered round
    unsigned uRequestResends = 0;
    unsigned uTftpResends = 0;
    unsigned uTftpDupAcks = 0;
    // The first round: when its first request left and when its reply came (bTimed).
    bool bTimed = false;
    std::chrono::steady_clock::time_point tFirstAsk, tAnswered;
};

// Runs one device's road `config.iRounds` times, or until a round ends unintended. Never
// throws; every wait is bounded.
DeviceOutcome RunDevice(const RoadConfig& config, const DeviceIdentity& id, ReplyInbox* inbox);

}  // namespace orvane::devsim
