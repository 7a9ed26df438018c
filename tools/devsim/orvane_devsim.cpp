// orvane-devsim: simulated cameras and recorders that go the whole upgrade road against a
// running Orvane: ask for an address, fetch the firmware over TFTP, report every stage.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/process_limits.h"
#include "protocol/device_message.h"
#include "tools/devsim/reply_inbox.h"
#include "tools/devsim/road_runner.h"

namespace {

using namespace orvane::devsim;

constexpr size_t kMaxNamedFailures = 50;  // without --verbose
// A device answered later than one that asked after it, by more than this many request
// intervals, was overtaken.
constexpr double kOvertakeIntervals = 1.5;

constexpr const char* kDescription =
    "Simulated devices in upgrade mode. Each device sends \"Request_ipaddr\" (its own MAC and\n"
    "Cseq) to port 10011 of --server and asks again every --request-interval ms, up to\n"
    "--request-tries times; it takes the broadcast reply on port 10010 (matched by MAC and\n"
    "Cseq + 1), fetches \"FilePath:\" from \"ServerIP:\" over TFTP with a boot-loader client\n"
    "(blksize option, resend after --tftp-timeout ms, --tftp-tries sends per packet), then\n"
    "reports every stage with the address it was given: an IPC up to \"Report_Filesystem\"\n"
    "state 0, an NVR on to \"Report_Update\" state 0.\n"
    "\n"
    "Prints one summary line\n"
    "  devices=N answered=N downloaded=N bytes=N failures=N injected=N\n"
    "  reply-median-ms=X reply-p99-ms=X reply-max-ms=X road-s=X\n"
    "and a second line\n"
    "  resends tftp=N tftp-dup-acks=N requests=N stray-replies=N\n"
    "(TFTP packets resent after a silence, ACKs repeated for a DATA seen twice, requests\n"
    "asked again, replies that answered nothing asked), and a third line\n"
    "  order peak-under-way=N overtaken=N\n"
    "(the most devices at once between their assignment reply and their last report; the\n"
    "devices answered more than 1.5 request intervals after one that first asked later).\n"
    "failures counts the devices that did not end as intended (an injected failure, reported\n"
    "as told, is intended); each of them is named on standard error. Exit status 0 only\n"
    "when every device ended as intended.\n"
    "\n"
    "Examples:\n"
    "  orvane-devsim --server 192.168.1.5 --devices 20 --model M100 --version 1.0.0.0 \\\n"
    "                --compare Firmware/M100.bin\n"
    "  orvane-devsim --server 192.168.1.5 --devices 10 --kind nvr --model N200 \\\n"
    "                --fail-share 0.2 --fail-stage kernel --fail-state 6\n"
    "  orvane-devsim --server 192.168.1.5 --devices 100 --road request\n"
    "  orvane-devsim --server 192.168.1.5 --devices 100 --fetch M100.bin\n";

struct Options {
    std::string szServer = "127.0.0.1";
    std::string szSourceFrom;
    size_t uDevices = 1;
    std::string szModel = "M100";
    std::string szVersion = "1.0.0.0";
    std::string szKind = "ipc";
    std::string szRoad = "full";
    std::string szFetch;
    unsigned uBlksize = 1468;
    bool bTsize = false;
    int iTftpTimeoutMs = 1000;
    unsigned uAskTimeout = 0;
    int iTftpTries = 5;
    int iAckDelayMs = 0;
    unsigned uWindowsize = 0;
    int iStartSpreadMs = 0;
    int iTftpPort = 69;
    int iRequestIntervalMs = 3000;
    int iRequestTries = 5;
    int iReportGapMs = 0;
    int iRounds = 1;
    size_t uConcurrency = kMaxConcurrency;
    std::string szCompare;
    std::string szKeep;
    std::string szMac = "02:00:00:00:00:01";
    double dFailShare = 0;
    std::string szFailStage = "filesystem";
    int iFailState = static_cast<int>(orvane::ReportState::kFailed);
    bool bExpectNoFirmware = false;
    bool bVerbose = false;
};

void AddOptions(CLI::App& app, Options& o) {
    app.add_option("--server", o.szServer, "Orvane's address (requests, default 127.0.0.1)");
    app.add_option("--source-from", o.szSourceFrom,
                   "Device N (from 0) fetches its file from this IPv4 address plus N, as "
                   "devices with addresses of their own do (the addresses must be local, e.g. "
                   "ip route add local 10.78.0.0/16 dev lo); default: any local address");
    app.add_option("-n,--devices", o.uDevices, "Number of devices (default 1)")
        ->check(CLI::Range(size_t{1}, kMaxDevices));
    app.add_option("--model", o.szModel, "Model the devices claim (default M100)");
    app.add_option("--version", o.szVersion, "Their version number (default 1.0.0.0)");
    app.add_option("--kind", o.szKind, "ipc or nvr: which stages they report (default ipc)")
        ->check(CLI::IsMember({"ipc", "nvr"}));
    app.add_option("--road", o.szRoad,
                   "full (default), or request: stop at the reply (measures the answer)")
        ->check(CLI::IsMember({"full", "request"}));
    app.add_option("--fetch", o.szFetch,
                   "Skip the request and reports: each device only fetches this file from "
                   "--server over TFTP (plain downloads to compare the road with)");
    app.add_option("--blksize", o.uBlksize,
                   "TFTP blksize asked (8..65464, 0 asks none; default 1468)")
        ->check(CLI::Range(0u, kTftpMaxBlksize));
    app.add_flag("--tsize", o.bTsize, "Also ask tsize and check the size against it");
    app.add_option("--tftp-timeout", o.iTftpTimeoutMs,
                   "Resend the last TFTP packet after this many ms of silence (default 1000)")
        ->check(CLI::Range(10, 60000));
    app.add_option("--ask-timeout", o.uAskTimeout,
                   "Ask the server for this TFTP time-out in seconds (timeout option, 1..255; "
                   "default 0 asks none)")
        ->check(CLI::Range(0u, 255u));
    app.add_option("--tftp-tries", o.iTftpTries,
                   "Sends of one TFTP packet before giving up (default 5)")
        ->check(CLI::Range(1, 100));
    app.add_option("--windowsize", o.uWindowsize,
                   "Also ask windowsize N (1..65535, RFC 7440): N blocks between two ACKs")
        ->check(CLI::Range(1, 65535));
    app.add_option("--ack-delay-ms", o.iAckDelayMs,
                   "Acknowledge each DATA after this many ms, as a boot loader that writes flash "
                   "between blocks (default 0)")
        ->check(CLI::Range(0, 60000));
    app.add_option("--start-spread-ms", o.iStartSpreadMs,
                   "Devices power on spread evenly over this many ms (default 0: all at once)")
        ->check(CLI::Range(0, 3600000));
    app.add_option("--tftp-port", o.iTftpPort, "TFTP port of the server (default 69)")
        ->check(CLI::Range(1, 65535));
    app.add_option("--request-interval", o.iRequestIntervalMs,
                   "Ask again after this many ms without a reply (default 3000)")
        ->check(CLI::Range(1, 600000));
    app.add_option("--request-tries", o.iRequestTries, "Requests before giving up (default 5)")
        ->check(CLI::Range(1, 100));
    app.add_option("--report-gap", o.iReportGapMs, "Pause between two reports, ms (default 0)")
        ->check(CLI::Range(0, 60000));
    app.add_option("--rounds", o.iRounds, "Each device runs its road this many times (default 1)")
        ->check(CLI::Range(1, 100000));
    app.add_option("-j,--concurrency", o.uConcurrency,
                   "Devices on the road at once (default: all of them)")
        ->check(CLI::Range(size_t{1}, kMaxConcurrency));
    app.add_option("--compare", o.szCompare, "Every download must equal this file byte for byte");
    app.add_option("--keep", o.szKeep,
                   "Keep the downloads in this folder (made if missing) as devN.bin");
    app.add_option("--mac", o.szMac,
                   "MAC of the first device; the next ones count up "
                   "(default 02:00:00:00:00:01)");
    app.add_option("--fail-share", o.dFailShare,
                   "Share of devices (0..1, spread evenly) that report a failure (default 0)")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--fail-stage", o.szFailStage,
                   "Stage of that failure: " + orvane::StageNameList() + " (default filesystem)");
    app.add_option("--fail-state", o.iFailState,
                   "State code reported: 2 CRC, 3 magic, 4 size, 5 version, 6 stage failed "
                   "(default 6)")
        ->check(CLI::Range(2, 6));
    app.add_flag("--expect-no-firmware", o.bExpectNoFirmware,
                 "The short reply (no newer firmware) is the intended answer");
    app.add_flag("-v,--verbose", o.bVerbose, "One line per device on standard error");
}

// The plan of the options, or an error text.
std::string MakePlan(const Options& o, const std::string* reference, RunPlan* plan) {
    RoadConfig& road = plan->road;
    if (!orvane::platform::Endpoint::Parse(o.szServer, orvane::kListenPort, &road.server) ||
        road.server.addr == 0) {
        return "--server '" + o.szServer + "' is not an IPv4 address";
    }
    if (o.uBlksize != 0 && o.uBlksize < kTftpMinBlksize) {
        return "--blksize must be 0 or 8..65464";
    }
    if (!ParseMac(o.szMac, &plan->uFirstMac)) {
        return "--mac '" + o.szMac + "' is not of the form 02:00:00:00:00:01";
    }
    if (o.uDevices * static_cast<size_t>(o.iRounds) > 1000000) {
        return "--devices times --rounds may be at most 1000000";
    }
    const auto kind = o.szKind == "nvr" ? DeviceKind::kNvr : DeviceKind::kIpc;
    const int failEvent = orvane::StageEventByName(o.szFailStage);
    const auto stages = StagesOf(kind);
    if (failEvent < 0 || std::find(stages.begin(), stages.end(), failEvent) == stages.end()) {
        return "--fail-stage '" + o.szFailStage + "' is not a stage of an " + o.szKind;
    }
    if (!o.szSourceFrom.empty()) {
        orvane::platform::Endpoint from;
        if (!orvane::platform::Endpoint::Parse(o.szSourceFrom, 0, &from) || from.addr == 0 ||
            from.addr > UINT32_MAX - o.uDevices) {
            return "--source-from '" + o.szSourceFrom + "' is no address for " +
                   std::to_string(o.uDevices) + " devices";
        }
        road.uSourceFrom = from.addr;
    }
    road.uTftpPort = static_cast<uint16_t>(o.iTftpPort);
    road.szVersionField = DeviceVersionField(o.szModel, o.szVersion);
    road.kind = kind;
    road.mode = !o.szFetch.empty()      ? RoadMode::kFetchOnly
                : o.szRoad == "request" ? RoadMode::kRequestOnly
                                        : RoadMode::kFull;
    road.iRequestIntervalMs = o.iRequestIntervalMs;
    road.iRequestTries = o.iRequestTries;
    road.iReportGapMs = o.iReportGapMs;
    road.fetch.uBlksize = o.uBlksize;
    road.fetch.bTsize = o.bTsize;
    road.fetch.iTimeoutMs = o.iTftpTimeoutMs;
    road.fetch.uAskTimeout = o.uAskTimeout;
    road.fetch.iTries = o.iTftpTries;
    road.fetch.iAckDelayMs = o.iAckDelayMs;
    road.fetch.uWindowsize = o.uWindowsize;
    road.szFetchName = o.szFetch;
    road.bExpectNoFirmware = o.bExpectNoFirmware;
    road.iFailEvent = o.dFailShare > 0 ? failEvent : -1;
    road.iFailState = o.iFailState;
    road.pReference = reference;
    road.szKeepDir = o.szKeep;
    road.iRounds = o.iRounds;
    plan->uDevices = o.uDevices;
    plan->uConcurrency = o.uConcurrency;
    plan->dFailShare = o.dFailShare;
    plan->iStartSpreadMs = o.iStartSpreadMs;
    return std::string();
}

bool ReadReference(const std::string& path, std::string* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    *out = bytes.str();
    return static_cast<bool>(in) || in.eof();
}

int Run(const Options& o) {
    std::string reference;
    if (!o.szCompare.empty() && !ReadReference(o.szCompare, &reference)) {
        std::fprintf(stderr, "orvane-devsim: cannot read %s\n", o.szCompare.c_str());
        return 2;
    }
    std::error_code ec;
    if (!o.szKeep.empty() && !std::filesystem::create_directories(o.szKeep, ec) && ec) {
        std::fprintf(stderr, "orvane-devsim: cannot create %s\n", o.szKeep.c_str());
        return 2;
    }
    RunPlan plan;
    std::string error = MakePlan(o, o.szCompare.empty() ? nullptr : &reference, &plan);
    if (!error.empty()) {
        std::fprintf(stderr, "orvane-devsim: %s\n", error.c_str());
        return 2;
    }
    // Two sockets a device on the road, the reply socket and the standard streams.
    const size_t onRoad = std::min(plan.uDevices, plan.uConcurrency);
    const size_t wanted = 2 * onRoad + 32;
    if (orvane::platform::RaiseOpenFileLimit(wanted) < wanted) {
        std::fprintf(stderr, "orvane-devsim: the open-file limit is below %zu: lower --devices\n",
                     wanted);
        return 2;
    }
    std::vector<std::string> macs;
    for (size_t i = 0; i < plan.uDevices; ++i) {
        macs.push_back(FormatMac(plan.uFirstMac + i));
    }
    ReplyInbox inbox(macs);
    if (plan.road.mode != RoadMode::kFetchOnly && !inbox.Start(orvane::kReplyPort, &error)) {
        std::fprintf(stderr, "orvane-devsim: %s\n", error.c_str());
        return 1;
    }
    double seconds = 0;
    int peakUnderWay = 0;
    std::vector<DeviceOutcome> outcomes = RunRoad(plan, &inbox, &seconds, &peakUnderWay);
    inbox.Stop();
    size_t named = 0;
    for (size_t i = 0; i < outcomes.size(); ++i) {
        const DeviceOutcome& d = outcomes[i];
        if ((!d.bIntended && named++ < kMaxNamedFailures) || o.bVerbose) {
            std::fprintf(stderr, "device %zu %s %s%s%s\n", i + 1, macs[i].c_str(),
                         EndingName(d.ending), d.szReason.empty() ? "" : ": ", d.szReason.c_str());
        }
    }
    if (named > kMaxNamedFailures && !o.bVerbose) {
        std::fprintf(stderr, "... and %zu more\n", named - kMaxNamedFailures);
    }
    RoadTotals totals = Summarize(outcomes, seconds, inbox.StrayCount());
    totals.iPeakUnderWay = peakUnderWay;
    totals.uOvertaken = CountOvertaken(outcomes, kOvertakeIntervals * o.iRequestIntervalMs);
    std::printf("%s\n%s\n%s\n", SummaryLine(totals).c_str(), ResendLine(totals).c_str(),
                OrderLine(totals).c_str());
    std::fflush(stdout);
    return totals.uFailures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{kDescription, "orvane-devsim"};
    Options o;
    AddOptions(app, o);
    CLI11_PARSE(app, argc, argv);
    try {
        return Run(o);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvane-devsim: %s\n", e.what());
        return 1;
    }
}
