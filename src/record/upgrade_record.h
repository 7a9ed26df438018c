#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/file.h"
#include "protocol/device_table.h"
#include "record/record_text.h"

namespace orvane {

// The upgrade record: one CSV line for every device whose outcome is decided, appended to a
// file that proves later which device went from which version to which. It observes the
// device table: the line is made when the table tells of an outcome and written by the
// record's own thread, so the table's lock is never held across a disk write. Each batch of
// lines is pushed to the disk as soon as it is written: a crash loses at most the lines of
// the last moments, never half a line.
class UpgradeRecord : public DeviceTableObserver {
  public:
    enum Result { kSuccess, kFailure, kIncomplete, kResults };

    UpgradeRecord();
    // Writes what is queued, then ends the writer.
    ~UpgradeRecord() override;
    UpgradeRecord(const UpgradeRecord&) = delete;
    UpgradeRecord& operator=(const UpgradeRecord&) = delete;

    // Start: the run's lines go to `path` (created with its header line when new or empty),
    // stamped with the run's start `runStartWall` (seconds since 1970). False, logged, when
    // the file cannot be opened: outcomes are then still counted, not written.
    bool BeginRun(const std::string& path, int64_t runStartWall);
    // Stop: a line "incomplete" for each of `records` whose outcome was never counted (and
    // that was ever on its way: not one told it gets nothing, nor one kept waiting), then
    // waits up to waitMs for every line to be on the disk. Nothing when no run is open.
    void EndRun(const std::vector<IpcInfo>& records, int waitMs);

    void OnDeviceTableChanged(const DeviceTableChange& change) override;
    void OnDeviceOutcome(const IpcInfo& record, bool success) override;
    // An "incomplete" line for a device given up on during the run, or left at Stop.
    void OnDeviceIncomplete(const IpcInfo& record) override;

    // Devices by result since the process began (the metrics).
    uint64_t Count(Result result) const { return m_auCount[result].load(); }
    // The file of the current (or last) run; empty before the first.
    std::string Path() const;
    // The lines of the outcomes that rows of the device list show now, by row.
    std::map<int, RecordLine> RowLines() const;
    // Waits up to waitMs until every line queued so far has been written, or kept to be
    // written again (see WriteFailing).
    bool WaitWritten(int waitMs);
    // Whether the record cannot be written now (cannot be opened, or the disk refuses its
    // lines): the lines are kept, in order, and written once it can, retried every second.
    bool WriteFailing() const { return m_bFailing.load(); }
    // Called on the writer's thread when WriteFailing changes (the front-end posts it on; it
    // must not wait). Set before the first run.
    void SetOnWriteFailing(std::function<void(bool)> onChange);
    // Writes of a line (or opens) that failed since the process began (the metrics).
    uint64_t WriteErrors() const { return m_uWriteErrors.load(); }

  private:
    void Queue(const RecordLine& line);
    void WriterLoop();
    void WriteBatch(std::deque<std::string>& lines);
    void WritePending();
    bool OpenFile();
    void SetFailing(bool failing, int error);

    mutable std::mutex m_csQueue;
    std::condition_variable m_cvQueue;    // lines queued, or the end
    std::condition_variable m_cvWritten;  // a batch is on the disk
    std::deque<std::string> m_queLines;   // guarded by m_csQueue
    uint64_t m_uQueued = 0;               // guarded by m_csQueue
    uint64_t m_uWritten = 0;              // guarded by m_csQueue
    bool m_bEnd = false;                  // guarded by m_csQueue
    uint64_t m_uDropped = 0;              // guarded by m_csQueue

    // The run: set by BeginRun on the operator's thread, read under the table's lock.
    mutable std::mutex m_csRun;
    std::string m_szPath;
    std::string m_szRunStarted;
    bool m_bRunOpen = false;
    std::map<int, RecordLine> m_mapRowLines;  // guarded by m_csRun

    // The writer's file; swapped by BeginRun between batches.
    std::mutex m_csFile;
    platform::AppendFile m_file;
    std::string m_szFilePath;
    bool m_bFileOpen = false;
    std::deque<std::string> m_quePending;  // lines not on the disk yet, in order (m_csFile)
    std::atomic<bool> m_bHasPending{false};
    std::atomic<bool> m_bFailing{false};
    std::atomic<uint64_t> m_uWriteErrors{0};
    std::function<void(bool)> m_fnOnWriteFailing;  // guarded by m_csFile

    std::atomic<uint64_t> m_auCount[kResults] = {};
    std::thread m_writer;  // last: starts once everything above exists
};

}  // namespace orvane
