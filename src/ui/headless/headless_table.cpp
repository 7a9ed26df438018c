#include "ui/headless/headless_table.h"

#include "platform/terminal.h"
#include "support/language.h"
#include "ui/headless/table_text.h"

namespace orvane {

namespace {

constexpr int kWriteSliceMs = 100;                             // between looks at the give-up time
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);  // at most ten a second
constexpr int kDefaultHeight = 24;
constexpr int kDefaultWidth = 80;

}  // namespace

HeadlessTable::HeadlessTable(int fd, Mode mode) : m_iFd(fd), m_mode(mode) {}

HeadlessTable::~HeadlessTable() {
    Stop(0);
}

// m_cs held.
void HeadlessTable::Apply(const DeviceTableChange& change) {
    if (change.kind == DeviceTableChange::kRowsCleared) {
        m_vecRows.clear();
        m_setDirtyRows.clear();
    } else if (change.kind != DeviceTableChange::kCounters && change.rowIndex >= 0 &&
               change.rowIndex < kMaxListRows) {
        if (change.rowIndex >= static_cast<int>(m_vecRows.size())) {
            m_vecRows.resize(change.rowIndex + 1);
        }
        m_vecRows[change.rowIndex] = change.row;
        if (m_bOverflow) {
            m_setDirtyRows.insert(change.rowIndex);
        }
    }
    m_iSuccessCount = change.successCount;
    m_iFailCount = change.failCount;
}

void HeadlessTable::Post(const DeviceTableChange& change) {
    std::lock_guard<std::mutex> lock(m_cs);
    if (m_mode == Mode::kTerminal) {
        m_bChanged = true;
    } else if (!m_bOverflow && m_queue.size() < kMaxQueued) {
        m_queue.push_back(change);
    } else {
        m_bOverflow = true;
    }
    Apply(change);
    m_cv.notify_one();
}

void HeadlessTable::PostNote(const std::string& note) {
    std::lock_guard<std::mutex> lock(m_cs);
    m_szNote = note;
    m_bNoteDue = m_mode == Mode::kLines;
    m_bChanged = m_mode == Mode::kTerminal;
    m_cv.notify_one();
}

void HeadlessTable::Start(const std::string& firstLine) {
    if (m_printer.joinable()) {
        return;
    }
    m_szFirstLine = firstLine;
    try {
        m_printer = std::thread([this] {
            try {
                SetThreadUiLanguage(g_iLanguage == kLanguageChinese ? kLanguageChinese
                                                                    : kLanguageEnglish);
                if (m_mode == Mode::kTerminal) {
                    PrintTerminal();
                } else {
                    PrintLines();
                }
            } catch (...) {
                // Out of memory while formatting: the output ends, the service goes on.
            }
        });
    } catch (...) {
        // No thread: nothing is printed; the service runs without its table.
    }
}

void HeadlessTable::Stop(int drainMs) {
    {
        std::lock_guard<std::mutex> lock(m_cs);
        m_bStop = true;
        const Clock::time_point giveUp = Clock::now() + std::chrono::milliseconds(drainMs);
        m_tGiveUp = std::min(m_tGiveUp, giveUp);
    }
    m_cv.notify_all();
    if (m_printer.joinable()) {
        m_printer.join();
    }
}

// Writes all of `text` unless the reader has gone, or Stop's time for it has run out.
bool HeadlessTable::Write(const std::string& text) {
    size_t at = 0;
    while (!m_bOutputDead && at < text.size()) {
        long n = platform::WriteWithin(m_iFd, text.data() + at, text.size() - at, kWriteSliceMs);
        if (n < 0) {
            m_bOutputDead = true;
        } else if (n == 0) {
            std::lock_guard<std::mutex> lock(m_cs);
            m_bOutputDead = Clock::now() >= m_tGiveUp;
        }
        at += n > 0 ? static_cast<size_t>(n) : 0;
    }
    return !m_bOutputDead;
}

// The lines of the changes queued since the last call, or after an overflow those of the
// rows changed meanwhile, with their latest texts. Called with m_cs held; formats outside it.
std::string HeadlessTable::NextLines(std::unique_lock<std::mutex>& lock) {
    std::deque<DeviceTableChange> changes;
    changes.swap(m_queue);
    const std::string note = m_bNoteDue ? "note\t" + m_szNote + "\n" : std::string();
    m_bNoteDue = false;
    if (changes.empty() && m_bOverflow) {
        for (int row : m_setDirtyRows) {
            if (row < static_cast<int>(m_vecRows.size())) {
                DeviceTableChange c;
                c.kind = DeviceTableChange::kRowChanged;
                c.rowIndex = row;
                c.row = m_vecRows[row];
                c.successCount = m_iSuccessCount;
                c.failCount = m_iFailCount;
                changes.push_back(std::move(c));
            }
        }
        if (changes.empty()) {
            DeviceTableChange counters;
            counters.kind = DeviceTableChange::kCounters;
            counters.successCount = m_iSuccessCount;
            counters.failCount = m_iFailCount;
            changes.push_back(counters);
        }
        m_setDirtyRows.clear();
        m_bOverflow = false;
    }
    lock.unlock();
    std::string text;
    for (const DeviceTableChange& c : changes) {
        if (c.kind == DeviceTableChange::kRowAdded || c.kind == DeviceTableChange::kRowChanged) {
            text += FormatRowLine(c.row);
        }
        if (c.successCount != m_iPrintedSuccess) {
            m_iPrintedSuccess = c.successCount;
            text += "successes\t" + std::to_string(c.successCount) + "\n";
        }
        if (c.failCount != m_iPrintedFail) {
            m_iPrintedFail = c.failCount;
            text += "failures\t" + std::to_string(c.failCount) + "\n";
        }
    }
    lock.lock();
    return text + note;
}

void HeadlessTable::PrintLines() {
    if (!m_szFirstLine.empty()) {
        Write(m_szFirstLine + "\n");
    }
    std::unique_lock<std::mutex> lock(m_cs);
    for (;;) {
        m_cv.wait(lock,
                  [this] { return !m_queue.empty() || m_bOverflow || m_bNoteDue || m_bStop; });
        if (m_queue.empty() && !m_bOverflow && !m_bNoteDue) {
            return;  // stopped, and everything is written
        }
        std::string text = NextLines(lock);
        lock.unlock();
        Write(text);
        lock.lock();
    }
}

void HeadlessTable::PrintTerminal() {
    if (!m_szFirstLine.empty()) {
        Write(m_szFirstLine + "\n");
    }
    std::unique_lock<std::mutex> lock(m_cs);
    for (;;) {
        m_cv.wait(lock, [this] { return m_bChanged || m_bStop; });
        if (!m_bChanged) {
            return;
        }
        int height = kDefaultHeight;
        int width = kDefaultWidth;
        platform::TerminalSize(m_iFd, &height, &width);
        TableScreen screen;
        const size_t shown = std::min(m_vecRows.size(), static_cast<size_t>(VisibleRows(height)));
        screen.rows.assign(m_vecRows.end() - shown, m_vecRows.end());
        screen.totalRows = static_cast<int>(m_vecRows.size());
        screen.successCount = m_iSuccessCount;
        screen.failCount = m_iFailCount;
        screen.note = m_szNote;
        m_bChanged = false;
        lock.unlock();

        // Back to the table's first line, clear to the end of the screen, draw again.
        std::string text;
        if (m_iDrawnLines > 0) {
            text = "\x1b[" + std::to_string(m_iDrawnLines) + "A";
        }
        text += "\r\x1b[J";
        const std::vector<std::string> lines = RenderTableLines(screen, height, width);
        for (const std::string& line : lines) {
            text += line + "\n";
        }
        m_iDrawnLines = static_cast<int>(lines.size());
        Write(text);
        const Clock::time_point next = Clock::now() + kRedrawEvery;

        lock.lock();
        m_cv.wait_until(lock, next, [this] { return m_bStop; });
    }
}

}  // namespace orvane
