#include "record/upgrade_record.h"

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "platform/clock.h"
#include "support/log.h"

namespace orvane {

namespace {

// Lines waiting for the disk. Outcomes are bounded by the device list's rows, so this is only
// reached when the disk stops taking writes altogether; a line beyond is dropped (logged).
constexpr size_t kMaxQueuedLines = 4 * static_cast<size_t>(kMaxDeviceRows);

const char* const kResultNames[] = {"success", "failure", "incomplete"};

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
        WriteLog(kLogMajor, "UpgradeRecord cannot open %s (%s): outcomes are not recorded",
                 m_szFilePath.c_str(), platform::SystemErrorText(m_file.LastError()).c_str());
        return false;
    }
    std::error_code ec;
    if (std::filesystem::file_size(m_szFilePath, ec) == 0 && !ec) {
        const std::string header = std::string(kRecordHeader) + "\r\n";
        m_file.Write(header.data(), header.size());
    }
    return true;
}

void UpgradeRecord::EndRun(const std::vector<IpcInfo>& records, int waitMs) {
    {
        std::lock_guard<std::mutex> lock(m_csRun);
        if (!m_bRunOpen) {
            return;
        }
    }
    for (const IpcInfo& record : records) {
        if (!record.bCounted) {
            RecordLine line = DescribeRecord(record, false);
            line.szResult = kResultNames[kIncomplete];
            line.szSeconds = SecondsText(record.iFirstSeenMs, platform::MonotonicMs());
            ++m_auCount[kIncomplete];
            Queue(line);
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_csRun);
        m_bRunOpen = false;
    }
    WaitWritten(waitMs);
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
        m_cvQueue.wait(lock, [this] { return m_bEnd || !m_queLines.empty(); });
        if (m_queLines.empty()) {
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

// One write per line (O_APPEND: a line lands whole at the end), then one flush per batch.
void UpgradeRecord::WriteBatch(const std::deque<std::string>& lines) {
    std::lock_guard<std::mutex> file(m_csFile);
    // A record removed or replaced on disk meanwhile: the lines go to the file the path names
    // now, never on into one nobody sees.
    if (m_bFileOpen && !m_file.IsStillAt(m_szFilePath)) {
        WriteLog(kLogMajor, "UpgradeRecord %s was replaced or removed: opened again",
                 m_szFilePath.c_str());
        m_file.Close();
        OpenFile();
    }
    if (!m_bFileOpen) {
        return;
    }
    for (const std::string& line : lines) {
        if (!m_file.Write(line.data(), line.size())) {
            WriteLog(kLogMajor, "UpgradeRecord cannot append to the record");
            break;
        }
    }
    m_file.Flush();
}

}  // namespace orvane
