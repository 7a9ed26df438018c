#include "record/upgrade_record.h"

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "platform/clock.h"
#include "platform/file.h"
#include "support/log.h"

namespace orvane {

namespace {

// Lines waiting for the disk. Outcomes are bounded by the device list's rows, so this is only
// reached when the disk stops taking writes altogether; a line beyond is dropped (logged).
constexpr size_t kMaxQueuedLines = 4 * static_cast<size_t>(kMaxDeviceRows);
// How often lines the disk refused are tried again.
constexpr int kRetryMs = 1000;

const char* const kResultNames[] = {"success", "failure", "incomplete"};

LogRateLimit g_lostLines;

std::string SecondsText(int64_t firstSeenMs, int64_t nowMs) {
    if (firstSeenMs == 0 || nowMs < firstSeenMs) {
        return std::string();
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(nowMs - firstSeenMs) / 1000.0);
    return text;
}

}  // namespace

UpgradeRecord::UpgradeRecord() : m_writer([this] { WriterLoop(); }) {}

UpgradeRecord::~UpgradeRecord() {
    {
        std::lock_guard<std::mutex> lock(m_csQueue);
        m_bEnd = true;
    }
    m_cvQueue.notify_all();
    m_writer.join();
}

bool UpgradeRecord::BeginRun(const std::string& path, int64_t runStartWall) {
    {
        std::lock_guard<std::mutex> lock(m_csRun);
        m_szPath = path;
        m_szRunStarted = LocalTimeText(runStartWall);
        m_bRunOpen = true;
        m_mapRowLines.clear();
    }
    std::lock_guard<std::mutex> file(m_csFile);
    m_szFilePath = path;
    return OpenFile();
}

// m_csFile held. Only the name's own regular file is taken (never a link, a pipe or a device,
// and never waiting for one); a new or empty file gets the header line.
bool UpgradeRecord::OpenFile() {
    m_bFileOpen = m_file.OpenAlways(m_szFilePath);
    if (!m_bFileOpen) {
        if (!m_bFailing.load()) {
            WriteLog(kLogMajor, "UpgradeRecord cannot open %s (%s): outcomes are kept until it can",
                     m_szFilePath.c_str(), platform::SystemErrorText(m_file.LastError()).c_str());
        }
        SetFailing(true, 0);
        return false;
    }
    std::error_code ec;
    if (std::filesystem::file_size(platform::FsPath(m_szFilePath), ec) == 0 && !ec) {
        const std::string header = std::string(kRecordHeader) + "\r\n";
        if (!m_file.AppendWhole(header.data(), header.size())) {
            SetFailing(true, m_file.LastError());
            m_file.Close();  // opened again, header first, when lines are tried again
            m_bFileOpen = false;
            return false;
        }
    }
    return true;
}

void UpgradeRecord::SetOnWriteFailing(std::function<void(bool)> onChange) {
    std::lock_guard<std::mutex> file(m_csFile);
    m_fnOnWriteFailing = std::move(onChange);
}

// m_csFile held. Logs the change only: a full disk writes one line, not one per outcome.
void UpgradeRecord::SetFailing(bool failing, int error) {
    if (failing) {
        ++m_uWriteErrors;
    }
    if (m_bFailing.exchange(failing) == failing) {
        return;
    }
    if (m_fnOnWriteFailing) {
        m_fnOnWriteFailing(failing);
    }
    if (failing && error != 0) {
        WriteLog(kLogMajor, "UpgradeRecord cannot write %s (%s): outcomes are kept until it can",
                 m_szFilePath.c_str(), platform::SystemErrorText(error).c_str());
    } else if (!failing) {
        WriteLog(kLogMajor, "UpgradeRecord %s is written again", m_szFilePath.c_str());
    }
}

void UpgradeRecord::EndRun(const std::vector<IpcInfo>& records, int waitMs) {
    {
        std::lock_guard<std::mutex> lock(m_csRun);
        if (!m_bRunOpen) {
            return;
        }
    }
    for (const IpcInfo& record : records) {
        if (!record.bCounted && !record.bNoUpgrade) {
            OnDeviceIncomplete(record);
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_csRun);
        m_bRunOpen = false;
    }
    WaitWritten(waitMs);
}

void UpgradeRecord::OnDeviceIncomplete(const IpcInfo& record) {
    RecordLine line = DescribeRecord(record, false);
    line.szResult = kResultNames[kIncomplete];
    line.szSeconds = SecondsText(record.iFirstSeenMs, platform::MonotonicMs());
    ++m_auCount[kIncomplete];
    Queue(line);
}

void UpgradeRecord::OnDeviceTableChanged(const DeviceTableChange& change) {
    if (change.kind == DeviceTableChange::kRowsCleared) {
        std::lock_guard<std::mutex> lock(m_csRun);
        m_mapRowLines.clear();
    }
}

void UpgradeRecord::OnDeviceOutcome(const IpcInfo& record, bool success) {
    const Result result = success ? kSuccess : kFailure;
    ++m_auCount[result];
    RecordLine line = DescribeRecord(record, success);
    line.szResult = kResultNames[result];
    line.szSeconds = SecondsText(record.iFirstSeenMs, platform::MonotonicMs());
    Queue(line);
    std::lock_guard<std::mutex> lock(m_csRun);
    if (record.nIndex >= 0) {
        m_mapRowLines[record.nIndex] = line;
    }
}

// Stamps the line with the time and the run and hands it to the writer.
void UpgradeRecord::Queue(const RecordLine& given) {
    RecordLine line = given;
    line.szTime = LocalTimeText(platform::WallClockSeconds());
    {
        std::lock_guard<std::mutex> lock(m_csRun);
        line.szRunStarted = m_szRunStarted;
    }
    std::string text = CsvLine(line);
    {
        std::lock_guard<std::mutex> lock(m_csQueue);
        if (m_queLines.size() >= kMaxQueuedLines) {
            ++m_uDropped;
            return;
        }
        m_queLines.push_back(std::move(text));
        ++m_uQueued;
    }
    m_cvQueue.notify_one();
}

std::string UpgradeRecord::Path() const {
    std::lock_guard<std::mutex> lock(m_csRun);
    return m_szPath;
}

std::map<int, RecordLine> UpgradeRecord::RowLines() const {
    std::lock_guard<std::mutex> lock(m_csRun);
    return m_mapRowLines;
}

bool UpgradeRecord::WaitWritten(int waitMs) {
    std::unique_lock<std::mutex> lock(m_csQueue);
    const uint64_t target = m_uQueued;
    return m_cvWritten.wait_for(lock, std::chrono::milliseconds(waitMs),
                                [&] { return m_uWritten >= target; });
}

void UpgradeRecord::WriterLoop() {
    std::unique_lock<std::mutex> lock(m_csQueue);
    for (;;) {
        const auto ready = [this] { return m_bEnd || !m_queLines.empty(); };
        if (m_bHasPending.load()) {
            m_cvQueue.wait_for(lock, std::chrono::milliseconds(kRetryMs), ready);
        } else {
            m_cvQueue.wait(lock, ready);
        }
        if (m_queLines.empty() && m_bEnd) {
            return;  // the end, with everything written
        }
        std::deque<std::string> batch;
        batch.swap(m_queLines);
        const uint64_t dropped = m_uDropped;
        m_uDropped = 0;
        lock.unlock();
        if (dropped > 0) {
            WriteLog(kLogMajor, "UpgradeRecord %llu lines dropped: the disk did not keep up",
                     static_cast<unsigned long long>(dropped));
        }
        try {
            WriteBatch(batch);
        } catch (const std::exception& e) {
            WriteLog(kLogMajor, "UpgradeRecord write failed: %s", e.what());
        }
        lock.lock();
        m_uWritten += batch.size();
        m_cvWritten.notify_all();
    }
}

// One write per line, whole or not at all, then one flush per batch. Lines the disk refuses
// stay, in order, for the next batch or the next retry.
void UpgradeRecord::WriteBatch(std::deque<std::string>& lines) {
    std::lock_guard<std::mutex> file(m_csFile);
    for (std::string& line : lines) {
        if (m_quePending.size() >= kMaxQueuedLines) {
            m_quePending.pop_front();
            WriteLogLimited(g_lostLines, kLogMajor,
                            "UpgradeRecord an outcome was lost: the record took no lines");
        }
        m_quePending.push_back(std::move(line));
    }
    WritePending();
    m_bHasPending = !m_quePending.empty();
}

// m_csFile held.
void UpgradeRecord::WritePending() {
    if (m_quePending.empty()) {
        return;
    }
    // A record removed or replaced on disk meanwhile: the lines go to the file the path names
    // now, never on into one nobody sees.
    if (m_bFileOpen && !m_file.IsStillAt(m_szFilePath)) {
        WriteLog(kLogMajor, "UpgradeRecord %s was replaced or removed: opened again",
                 m_szFilePath.c_str());
        m_file.Close();
        OpenFile();
    }
    if (!m_bFileOpen && (m_szFilePath.empty() || !OpenFile())) {
        return;
    }
    while (!m_quePending.empty()) {
        const std::string& line = m_quePending.front();
        if (!m_file.AppendWhole(line.data(), line.size())) {
            SetFailing(true, m_file.LastError());
            break;
        }
        m_quePending.pop_front();
    }
    m_file.Flush();
    if (m_quePending.empty()) {
        SetFailing(false, 0);
    }
}

}  // namespace orvane
