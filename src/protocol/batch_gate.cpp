#include "protocol/batch_gate.h"

#include <algorithm>
#include <cctype>
#include <climits>

namespace orvane {

namespace {

// Devices ask again every few seconds while they wait; one silent for this long has given up
// (or was switched off) and must not hold the head of the queue for ever.
constexpr int64_t kForgetWaiterMs = 60 * 1000;
// Anyone can send requests with made-up MACs: the queue is bounded like the device list.
constexpr size_t kMaxWaiting = static_cast<size_t>(kMaxDeviceRows);

bool IsHex(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

std::string CountText(int n, const char* one, const char* many) {
    return std::to_string(n) + (n == 1 ? one : many);
}

}  // namespace

std::string NormalizeMac(const std::string& text) {
    std::string digits;
    char separator = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (IsHex(c)) {
            digits += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            continue;
        }
        // A separator only between pairs, and the same one throughout.
        if ((c != ':' && c != '-') || digits.size() % 2 != 0 || digits.empty() ||
            (separator && c != separator)) {
            return std::string();
        }
        separator = c;
    }
    if (digits.size() != 12 || (separator && text.size() != 17)) {
        return std::string();
    }
    std::string mac;
    for (size_t i = 0; i < digits.size(); i += 2) {
        mac += (i ? ":" : "") + digits.substr(i, 2);
    }
    return mac;
}

bool BatchScope::Contains(const std::string& mac, const std::string& model) const {
    return setModels.count(model) > 0 || setMacs.count(NormalizeMac(mac)) > 0;
}

std::string BatchNoteText(const BatchSettings& s, const BatchStatus& status, bool chinese) {
    if (status.bHalted) {
        return chinese ? "失败" + std::to_string(status.iFailures) + "台后已停止"
                       : "Halted after " + std::to_string(status.iFailures) + " failures";
    }
    std::vector<std::string> parts;
    if (s.bScoped) {
        const int macs = static_cast<int>(s.scope.setMacs.size());
        const int models = static_cast<int>(s.scope.setModels.size());
        std::string scope = chinese ? "范围：" : "Scope: ";
        if (macs > 0 || models == 0) {
            scope +=
                chinese ? std::to_string(macs) + "台设备" : CountText(macs, " device", " devices");
        }
        if (models > 0) {
            scope += macs > 0 ? (chinese ? "和" : " and ") : "";
            scope += chinese ? std::to_string(models) + "个型号"
                             : CountText(models, " model", " models");
        }
        parts.push_back(scope);
    }
    if (s.iMaxAtOnce > 0) {
        parts.push_back(chinese ? "每次" + std::to_string(s.iMaxAtOnce) + "台"
                                : std::to_string(s.iMaxAtOnce) + " at once");
    }
    if (s.iFirstGroup > 0) {
        parts.push_back(chinese ? "首批" + std::to_string(s.iFirstGroup) + "台"
                                : "first group of " + std::to_string(s.iFirstGroup));
    }
    if (s.iHaltAfter > 0) {
        parts.push_back(chinese ? "失败" + std::to_string(s.iHaltAfter) + "台后停止"
                                : "halt after " + std::to_string(s.iHaltAfter) + " failures");
    }
    std::string text;
    for (const std::string& part : parts) {
        text += (text.empty() ? "" : (chinese ? "，" : ", ")) + part;
    }
    return text;
}

void BatchGate::BeginRun(const BatchSettings& settings) {
    std::lock_guard<std::mutex> lock(m_cs);
    m_settings = settings;
    m_mapUnderWay.clear();
    m_queWaiting.clear();
    m_iFirstTaken = 0;
    m_iFirstSucceeded = 0;
    m_iFailures = 0;
    m_bHalted = false;
}

BatchSettings BatchGate::Settings() const {
    std::lock_guard<std::mutex> lock(m_cs);
    return m_settings;
}

BatchStatus BatchGate::Status() const {
    std::lock_guard<std::mutex> lock(m_cs);
    BatchStatus status;
    status.bHalted = m_bHalted;
    status.iFailures = m_iFailures;
    status.iUnderWay = static_cast<int>(m_mapUnderWay.size());
    status.iWaiting = static_cast<int>(m_queWaiting.size());
    return status;
}

// m_cs held. Places a waiting device may take now: the run's limit less those under way, and
// while the first group has not all succeeded, only what is left of that group.
int BatchGate::FreePlaces() const {
    int places = INT_MAX;
    if (m_settings.iMaxAtOnce > 0) {
        places = m_settings.iMaxAtOnce - static_cast<int>(m_mapUnderWay.size());
    }
    if (m_settings.iFirstGroup > 0 && m_iFirstSucceeded < m_settings.iFirstGroup) {
        places = std::min(places, m_settings.iFirstGroup - m_iFirstTaken);
    }
    return places;
}

BatchGate::Verdict BatchGate::Decide(const std::string& mac, const std::string& model, bool upgrade,
                                     int64_t nowMs) {
    std::lock_guard<std::mutex> lock(m_cs);
    if (m_settings.bScoped && !m_settings.scope.Contains(mac, model)) {
        return Verdict::kOutOfScope;
    }
    if (!upgrade) {
        return Verdict::kGo;
    }
    auto under = m_mapUnderWay.find(mac);
    if (under != m_mapUnderWay.end()) {
        under->second.iLastHeardMs = nowMs;  // asked again: its reply was lost
        return Verdict::kGo;
    }
    if (m_bHalted) {
        return Verdict::kHalted;
    }
    m_queWaiting.erase(
        std::remove_if(m_queWaiting.begin(), m_queWaiting.end(),
                       [nowMs](const Waiter& w) { return nowMs - w.iLastAskMs > kForgetWaiterMs; }),
        m_queWaiting.end());
    auto waiter = std::find_if(m_queWaiting.begin(), m_queWaiting.end(),
                               [&mac](const Waiter& w) { return w.szMac == mac; });
    if (waiter == m_queWaiting.end()) {
        if (m_queWaiting.size() >= kMaxWaiting) {
            return Verdict::kWait;
        }
        m_queWaiting.push_back(Waiter{mac, nowMs});
        waiter = m_queWaiting.end() - 1;
    }
    waiter->iLastAskMs = nowMs;
    // Those who asked before it have the first claim on the places that are free.
    if (waiter - m_queWaiting.begin() >= FreePlaces()) {
        return Verdict::kWait;
    }
    m_queWaiting.erase(waiter);
    const bool first = m_settings.iFirstGroup > 0 && m_iFirstSucceeded < m_settings.iFirstGroup;
    m_iFirstTaken += first ? 1 : 0;
    m_mapUnderWay[mac] = UnderWay{nowMs, first};
    return Verdict::kGo;
}

void BatchGate::Withdraw(const std::string& mac) {
    std::lock_guard<std::mutex> lock(m_cs);
    auto under = m_mapUnderWay.find(mac);
    if (under == m_mapUnderWay.end()) {
        return;
    }
    m_iFirstTaken -= under->second.bFirstGroup ? 1 : 0;
    m_queWaiting.push_front(Waiter{mac, under->second.iLastHeardMs});
    m_mapUnderWay.erase(under);
}

void BatchGate::Heard(const std::string& mac, int64_t nowMs) {
    std::lock_guard<std::mutex> lock(m_cs);
    auto under = m_mapUnderWay.find(mac);
    if (under != m_mapUnderWay.end()) {
        under->second.iLastHeardMs = nowMs;
    }
}

bool BatchGate::CountFailure(bool firstGroup) {
    ++m_iFailures;
    const bool halts =
        firstGroup || (m_settings.iHaltAfter > 0 && m_iFailures >= m_settings.iHaltAfter);
    if (halts && !m_bHalted) {
        m_bHalted = true;
        m_queWaiting.clear();  // nobody is answered any more: nobody waits for a place
        return true;
    }
    return false;
}

void BatchGate::Halted(int failures) {
    if (m_onHalt) {
        m_onHalt(failures);
    }
}

std::vector<std::string> BatchGate::TakeStalled(int64_t nowMs) {
    std::vector<std::string> stalled;
    bool halted = false;
    int failures = 0;
    {
        std::lock_guard<std::mutex> lock(m_cs);
        if (!m_settings.LimitsRun()) {
            return stalled;
        }
        const int64_t stallMs = static_cast<int64_t>(m_settings.iStallMinutes) * 60 * 1000;
        for (auto it = m_mapUnderWay.begin(); it != m_mapUnderWay.end();) {
            if (nowMs - it->second.iLastHeardMs <= stallMs) {
                ++it;
                continue;
            }
            // Silence is how a bricked device ends: a failure, for the halt as for the group.
            halted = CountFailure(it->second.bFirstGroup) || halted;
            stalled.push_back(it->first);
            it = m_mapUnderWay.erase(it);
        }
        failures = m_iFailures;
    }
    if (halted) {
        Halted(failures);
    }
    return stalled;
}

// Only devices this run let go count: a made-up report naming some other MAC can neither take
// a place nor halt the run.
void BatchGate::OnDeviceOutcome(const IpcInfo& record, bool success) {
    bool halted = false;
    int failures = 0;
    {
        std::lock_guard<std::mutex> lock(m_cs);
        auto under = m_mapUnderWay.find(record.szMac);
        if (under == m_mapUnderWay.end()) {
            return;
        }
        const bool first = under->second.bFirstGroup;
        m_mapUnderWay.erase(under);
        if (success) {
            m_iFirstSucceeded += first ? 1 : 0;
            return;
        }
        halted = CountFailure(first);
        failures = m_iFailures;
    }
    if (halted) {
        Halted(failures);
    }
}

}  // namespace orvane
