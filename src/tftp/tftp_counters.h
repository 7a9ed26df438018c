#pragma once

#include <atomic>
#include <cstdint>

namespace orvane {

// Totals of the TFTP service since the process began, for the metrics. Process-wide atomics,
// so whichever object serves transfers bumps them without knowing who reads them.
struct TftpCounters {
    std::atomic<uint64_t> bytesSent{0};  // DATA payload sent, resends included
    std::atomic<int64_t> transfersActive{0};
    std::atomic<uint64_t> transfersOk{0};
    std::atomic<uint64_t> transfersFailed{0};
};

TftpCounters& GetTftpCounters();

// Counts one transfer as active for its lifetime and as finished (by `ok`) when it ends.
class TftpTransferCount {
  public:
    TftpTransferCount() { ++GetTftpCounters().transfersActive; }
    ~TftpTransferCount() {
        TftpCounters& c = GetTftpCounters();
        --c.transfersActive;
        ++(m_bOk ? c.transfersOk : c.transfersFailed);
    }
    TftpTransferCount(const TftpTransferCount&) = delete;
    TftpTransferCount& operator=(const TftpTransferCount&) = delete;
    void SetOk(bool ok) { m_bOk = ok; }

  private:
    bool m_bOk = false;
};

}  // namespace orvane
