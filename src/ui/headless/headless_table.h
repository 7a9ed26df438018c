#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "protocol/device_table.h"

namespace orvane {

// The headless front-end's rendering of the device model on an output (standard output):
// on a terminal a live table redrawn in place at most ten times a second, otherwise one
// line per row change and per counter change:
//   row<TAB>ID<TAB>model<TAB>IP<TAB>status<TAB>schedule<TAB>pre-upgrade<TAB>upgraded
//   successes<TAB>N        failures<TAB>N
// Changes arrive on engine threads with the model's lock held. Post only records them; a
// printer thread of its own writes, so a reader that stops reading never stalls the engine.
class HeadlessTable {
  public:
    enum class Mode { kLines, kTerminal };

    // Changes queued for the printer at most; past that, Post keeps only which rows and
    // counters changed and the printer writes their latest texts once it catches up.
    static constexpr size_t kMaxQueued = 4096;

    HeadlessTable(int fd, Mode mode);
    ~HeadlessTable();
    HeadlessTable(const HeadlessTable&) = delete;
    HeadlessTable& operator=(const HeadlessTable&) = delete;

    // Records one change of the model; never writes and never waits for the printer.
    void Post(const DeviceTableChange& change);
    // The note line changed: "note<TAB>TEXT" in lines mode (after the changes posted before),
    // beside the counters on a terminal. Never waits either.
    void PostNote(const std::string& note);

    // Starts the printer; `firstLine` (without its line feed; none when empty) is written
    // before anything else. Changes posted before are kept for it.
    void Start(const std::string& firstLine);

    // Writes what is still to be written, giving a slow reader at most drainMs, and ends
    // the printer. Safe to call twice or without Start.
    void Stop(int drainMs);

  private:
    using Clock = std::chrono::steady_clock;

    void Apply(const DeviceTableChange& change);
    void PrintLines();
    void PrintTerminal();
    bool Write(const std::string& text);
    std::string NextLines(std::unique_lock<std::mutex>& lock);

    const int m_iFd;
    const Mode m_mode;

    std::mutex m_cs;
    std::condition_variable m_cv;
    // The model as the notices told it, the printer's source after an overflow and for the
    // terminal table. Guarded by m_cs.
    std::vector<DeviceRow> m_vecRows;
    int m_iSuccessCount = 0;
    int m_iFailCount = 0;
    std::deque<DeviceTableChange> m_queue;  // lines mode
    // Lines mode after the queue was full: rows changed since, written from m_vecRows once
    // the queue is empty; nothing is queued meanwhile, so the order of lines holds.
    bool m_bOverflow = false;
    std::set<int> m_setDirtyRows;
    bool m_bChanged = false;  // terminal mode: a redraw is due
    std::string m_szNote;     // the note line now
    bool m_bNoteDue = false;  // lines mode: m_szNote is still to be written
    bool m_bStop = false;
    Clock::time_point m_tGiveUp = Clock::time_point::max();  // set by Stop

    // The printer's own state.
    std::string m_szFirstLine;
    bool m_bOutputDead = false;  // the reader has gone or was given up on
    int m_iPrintedSuccess = 0;
    int m_iPrintedFail = 0;
    int m_iDrawnLines = 0;

    std::thread m_printer;
};

}  // namespace orvane
