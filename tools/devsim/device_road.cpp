#include "tools/devsim/device_road.h"

#include <cstring>
#include <fstream>
#include <thread>

#include "protocol/device_message.h"
#include "tools/devsim/reply_inbox.h"

namespace orvane::devsim {

namespace {

constexpr int kStateDone = static_cast<int>(ReportState::kDone);
constexpr int kStateBusy = static_cast<int>(ReportState::kBusy);
constexpr int kStateCrc = static_cast<int>(ReportState::kCrcFailed);
constexpr int kStateFailed = static_cast<int>(ReportState::kFailed);

// What an assignment reply tells the device.
struct Assignment {
    std::string szServerIp;
    std::string szIp;
    std::string szFile;
    platform::Endpoint server;
};

double MsBetween(SteadyTime from, SteadyTime to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

class DeviceRun {
  public:
    DeviceRun(const RoadConfig& config, const DeviceIdentity& id, ReplyInbox* inbox)
        : m_config(config), m_id(id), m_inbox(inbox), m_iCseq(id.iFirstCseq) {}

    DeviceOutcome Run();

  private:
    // One road; it always ends with End(), which says how. The steps below return false once
    // the round has ended.
    void Round();
    bool Ask(DeviceReply* reply);
    bool ReadAssignment(const ServerReply& reply, Assignment* out);
    bool Fetch(const platform::Endpoint& server, const std::string& name,
               const std::string& reportIp);
    bool ReportStages(const Assignment& a);
    // A report after the --report-gap pause; Send is the report without it.
    // `last`: the report that ends the device's road, which leaves the gauge before it goes.
    void Report(const platform::Endpoint& to, int event, const std::string& ip, int schedule,
                int state, bool last = false);
    void Send(const platform::Endpoint& to, int event, const std::string& ip, int schedule,
              int state);
    bool End(Ending ending, bool intended, const std::string& reason = std::string());
    // Between the assignment and the last report. Leaving comes before that report is sent:
    // the server may free the place as soon as it reads it.
    void EnterUnderWay();
    void LeaveUnderWay();

    const RoadConfig& m_config;
    const DeviceIdentity& m_id;
    ReplyInbox* m_inbox;
    platform::UdpSocket m_socket;  // requests and reports leave from here
    int m_iCseq;
    unsigned m_uAnswered = 0;  // rounds that got their reply
    unsigned m_uDownloaded = 0;
    bool m_bUnderWay = false;
    DeviceOutcome m_outcome;
};

void DeviceRun::EnterUnderWay() {
    UnderWayGauge* gauge = m_config.pUnderWay;
    if (!gauge || m_bUnderWay) {
        return;
    }
    m_bUnderWay = true;
    const int now = ++gauge->iNow;
    for (int peak = gauge->iPeak; now > peak && !gauge->iPeak.compare_exchange_weak(peak, now);) {
    }
}

void DeviceRun::LeaveUnderWay() {
    if (m_bUnderWay) {
        m_bUnderWay = false;
        --m_config.pUnderWay->iNow;
    }
}

DeviceOutcome DeviceRun::Run() {
    if (!m_socket.Open()) {
        End(Ending::kError, false,
            "cannot open a socket: " + platform::SocketErrorText(m_socket.LastError()));
        return m_outcome;
    }
    for (int round = 0; round < m_config.iRounds; ++round) {
        Round();
        if (!m_outcome.bIntended) {
            break;
        }
    }
    const unsigned rounds = static_cast<unsigned>(m_config.iRounds);
    m_outcome.bAnswered = m_uAnswered == rounds;
    m_outcome.bDownloaded = m_uDownloaded == rounds;
    return m_outcome;
}

bool DeviceRun::End(Ending ending, bool intended, const std::string& reason) {
    m_outcome.ending = ending;
    m_outcome.bIntended = intended;
    m_outcome.szReason = reason;
    return false;
}

void DeviceRun::Round() {
    End(Ending::kError, false, "the round did not end");  // until a step says otherwise
    if (m_config.mode == RoadMode::kFetchOnly) {
        if (Fetch(platform::Endpoint{m_config.server.addr, m_config.uTftpPort},
                  m_config.szFetchName, "")) {
            ++m_uDownloaded;
            End(Ending::kFetched, true);
        }
        return;
    }
    DeviceReply reply;
    if (!Ask(&reply)) {
        return;
    }
    ++m_uAnswered;
    if (!reply.reply.bAssignment) {
        // The short reply: no firmware for this device.
        End(Ending::kNoFirmware, m_config.bExpectNoFirmware,
            m_config.bExpectNoFirmware ? "" : "the server has no newer firmware for it");
        return;
    }
    Assignment a;
    if (!ReadAssignment(reply.reply, &a)) {
        return;
    }
    EnterUnderWay();
    if (m_config.bExpectNoFirmware) {
        End(Ending::kBadReply, false, "expected no firmware, was told to fetch " + a.szFile);
    } else if (m_config.mode == RoadMode::kRequestOnly) {
        End(Ending::kRequestAnswered, true);
    } else if (Fetch(a.server, a.szFile, a.szIp)) {
        ++m_uDownloaded;
        ReportStages(a);
    }
    LeaveUnderWay();
}

bool DeviceRun::Ask(DeviceReply* reply) {
    m_inbox->BeginRound(m_id.index);
    const int firstCseq = m_iCseq;
    std::vector<SteadyTime> sent;
    for (int attempt = 0; attempt < m_config.iRequestTries; ++attempt) {
        const int cseq = m_iCseq++;
        const std::string request = BuildRequest(m_config.szVersionField, cseq, m_id.szMac);
        m_inbox->Expect(m_id.index, cseq);
        if (attempt > 0) {
            ++m_outcome.uRequestResends;
        }
        sent.push_back(std::chrono::steady_clock::now());
        if (!m_outcome.bTimed && attempt == 0) {
            m_outcome.tFirstAsk = sent.back();
        }
        // With the NUL the server's own replies carry; a lost send is a lost request.
        m_socket.SendTo(request.c_str(), request.size() + 1, m_config.server);
        SteadyTime deadline = sent.back() + std::chrono::milliseconds(m_config.iRequestIntervalMs);
        if (m_inbox->WaitReply(m_id.index, deadline, reply)) {
            // The reply answers one of this round's requests; time it from that request.
            size_t which = static_cast<size_t>(reply->iCseq - firstCseq);
            m_outcome.vecLatencyMs.push_back(
                MsBetween(sent[which < sent.size() ? which : sent.size() - 1], reply->tReceived));
            if (!m_outcome.bTimed) {
                m_outcome.bTimed = true;
                m_outcome.tAnswered = reply->tReceived;
            }
            return true;
        }
    }
    return End(Ending::kNoAnswer, false,
               "no reply to " + std::to_string(m_config.iRequestTries) + " requests");
}

bool DeviceRun::ReadAssignment(const ServerReply& reply, Assignment* out) {
    out->szServerIp = reply.szServerIp;
    out->szIp = reply.szIpaddr;
    out->szFile = reply.szFilePath;
    if (!platform::Endpoint::Parse(out->szServerIp, m_config.uTftpPort, &out->server) ||
        out->server.addr == 0) {
        return End(Ending::kBadReply, false, "ServerIP '" + out->szServerIp + "' is no address");
    }
    if (out->szFile.empty()) {
        return End(Ending::kBadReply, false, "empty FilePath");
    }
    return true;
}

bool DeviceRun::Fetch(const platform::Endpoint& server, const std::string& name,
                      const std::string& reportIp) {
    const std::string* ref = m_config.pReference;
    std::ofstream keep;
    if (!m_config.szKeepDir.empty()) {
        // Named by the device, never by the server's file name.
        std::string path = m_config.szKeepDir + "/dev" + std::to_string(m_id.index + 1) + ".bin";
        keep.open(path, std::ios::binary | std::ios::trunc);
        if (!keep) {
            return End(Ending::kError, false, "cannot write " + path);
        }
    }
    const platform::Endpoint reportTo{server.addr, kListenPort};
    bool mismatch = false;
    auto sink = [&](uint64_t offset, const char* data, size_t len, std::string* reason) {
        if (offset == 0 && !reportIp.empty()) {
            // On the thread of every transfer: never paced (a pause there would hold them all).
            Send(reportTo, kDownloadEvent, reportIp, 0, kStateBusy);
        }
        if (ref && (offset + len > ref->size() || std::memcmp(ref->data() + offset, data, len))) {
            mismatch = true;
            *reason = "content differs from the reference within bytes " + std::to_string(offset) +
                      ".." + std::to_string(offset + len);
            return false;
        }
        if (keep.is_open() && !keep.write(data, static_cast<std::streamsize>(len))) {
            *reason = "cannot write the kept download";
            return false;
        }
        return true;
    };
    TftpFetchOptions fetch = m_config.fetch;
    if (m_config.uSourceFrom != 0) {
        fetch.uSourceAddr = m_config.uSourceFrom + static_cast<uint32_t>(m_id.index);
    }
    TftpFetchResult r = TftpFetch(server, name, fetch, sink);
    m_outcome.uTftpResends += r.uResends;
    m_outcome.uTftpDupAcks += r.uDupAcks;
    m_outcome.uBytes += r.uBytes;
    if (r.bOk && ref && r.uBytes != ref->size()) {
        mismatch = true;
        r.bOk = false;
        r.szError = "got " + std::to_string(r.uBytes) + " bytes, the reference has " +
                    std::to_string(ref->size());
    }
    if (!r.bOk) {
        // What a device tells the server when its download fails or does not check out.
        if (!reportIp.empty()) {
            Report(reportTo, kDownloadEvent, reportIp, 0, mismatch ? kStateCrc : kStateFailed,
                   true);
        }
        return End(mismatch ? Ending::kMismatch : Ending::kFetchFailed, false,
                   "TFTP " + name + ": " + r.szError);
    }
    return true;
}

bool DeviceRun::ReportStages(const Assignment& a) {
    const platform::Endpoint to{a.server.addr, kListenPort};
    const std::vector<int> stages = StagesOf(m_config.kind);
    for (int event : stages) {
        const bool fail = m_id.bInjectFailure && event == m_config.iFailEvent;
        if (event != kDownloadEvent) {
            Report(to, event, a.szIp, 50, kStateBusy);
        }
        Report(to, event, a.szIp, event == kDownloadEvent || !fail ? 100 : 50,
               fail ? m_config.iFailState : kStateDone, fail || event == stages.back());
        if (fail) {
            return End(Ending::kInjectedFailure, true);
        }
    }
    return !End(Ending::kUpgraded, true);
}

void DeviceRun::Report(const platform::Endpoint& to, int event, const std::string& ip, int schedule,
                       int state, bool last) {
    if (m_config.iReportGapMs > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(m_config.iReportGapMs));
    }
    if (last) {
        LeaveUnderWay();
    }
    Send(to, event, ip, schedule, state);
}

void DeviceRun::Send(const platform::Endpoint& to, int event, const std::string& ip, int schedule,
                     int state) {
    const std::string report =
        BuildReport(event, ip, m_id.szMac, schedule, state, m_config.szVersionField);
    m_socket.SendTo(report.c_str(), report.size() + 1, to);
}

}  // namespace

std::vector<int> StagesOf(DeviceKind kind) {
    std::vector<int> stages;
    const int last = LastStageOf(kind == DeviceKind::kNvr ? kDeviceKindNvr : kDeviceKindIpc);
    for (int e = kDownloadEvent; e <= last; ++e) {
        stages.push_back(e);
    }
    return stages;
}

const char* EndingName(Ending ending) {
    switch (ending) {
        case Ending::kUpgraded:
            return "upgraded";
        case Ending::kRequestAnswered:
            return "answered";
        case Ending::kFetched:
            return "fetched";
        case Ending::kNoFirmware:
            return "no-firmware";
        case Ending::kInjectedFailure:
            return "injected-failure";
        case Ending::kNoAnswer:
            return "no-answer";
        case Ending::kBadReply:
            return "bad-reply";
        case Ending::kFetchFailed:
            return "fetch-failed";
        case Ending::kMismatch:
            return "mismatch";
        case Ending::kError:
            return "error";
    }
    return "error";
}

std::string DeviceVersionField(const std::string& model, const std::string& version) {
    std::string field = model;
    for (char& c : field) {
        if (c == '-') {
            c = '*';
        }
    }
    return field + "-" + version;
}

std::string BuildRequest(const std::string& versionField, int cseq, const std::string& mac) {
    DeviceRequest request;
    request.szVersion = versionField;
    request.iCseq = cseq;
    request.szMac = mac;
    return BuildDeviceRequest(request);
}

std::string BuildReport(int event, const std::string& ip, const std::string& mac, int schedule,
                        int state, const std::string& versionField) {
    DeviceReport report;
    report.iEvent = event;
    report.szIpAddr = ip;
    report.szMac = mac;
    report.szSchedule = std::to_string(schedule);
    report.szState = std::to_string(state);
    report.szVersion = versionField;
    return BuildDeviceReport(report);
}

DeviceOutcome RunDevice(const RoadConfig& config, const DeviceIdentity& id, ReplyInbox* inbox) {
    try {
        DeviceRun run(config, id, inbox);
        return run.Run();
    } catch (const std::exception& e) {
        DeviceOutcome failed;
        failed.szReason = std::string("internal error: ") + e.what();
        return failed;
    }
}

}  // namespace orvane::devsim
