#pragma once

// One run of the TFTP service, from a start to the end of its main thread.

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>

#include "platform/thread.h"
#include "platform/udp_socket.h"
#include "platform/wake_event.h"
#include "support/log.h"
#include "tftp/tftp_request.h"
#include "tftp/tftp_settings.h"

namespace orvane {

struct TftpWorker;

// Numbers that go on from one run to the next, and the record count shown outside. Shared by
// the service and its runs, so a run that outlives its service never reaches freed memory.
struct TftpRunNumbers {
    std::atomic<int> transferNumber{467};
    std::atomic<int> threadNumber{0};
    std::atomic<size_t> records{0};
};

// What the workers share with their run's main thread. Each worker holds it, so one that misses
// its stop wait still finds it after the run is freed.
struct TftpRunShared {
    std::atomic<bool> running{true};
    // Set when the main thread collects its workers, also when it ends without a listening
    // socket while `running` stays set: a woken worker must then end, not serve an empty
    // record.
    std::atomic<bool> workersEnd{false};
    // Wakes the main thread: a stop, or a finished dynamic worker to remove.
    platform::WakeEvent wake;

    bool Serving() const { return running.load() && !workersEnd.load(); }
};

// The main thread that accepts requests on the listening socket, the worker records (each with
// its transfer) and their threads (the permanent ones, and dynamic ones up to the record limit).
// A run whose main thread misses the stop wait is never freed; a worker that misses its wait
// keeps its record for good and holds the shared part of the run, so a late thread never
// touches released memory.
class TftpRun {
  public:
    TftpRun(std::shared_ptr<const TftpSettings> settings, std::shared_ptr<TftpRunNumbers> numbers);
    ~TftpRun();
    TftpRun(const TftpRun&) = delete;
    TftpRun& operator=(const TftpRun&) = delete;

    // Starts the main thread; false when it cannot be started (nothing runs then).
    bool Begin();
    // Waits up to waitMs for the main thread to have made its listening socket, or to have
    // failed to; true when it did.
    bool WaitStarted(int waitMs);
    // The settings of the requests that follow; the listening socket keeps its address and port.
    void SetSettings(std::shared_ptr<const TftpSettings> settings);
    // Tells the main thread to cancel the transfers and end, and waits up to waitMs for it.
    // False when it did not end: the run must then never be freed.
    bool End(int waitMs);

  private:
    // The last accepted request, to tell a client's immediate repeat from a new request.
    struct DuplicateMemory {
        std::array<uint8_t, kTftpPacketSize> bytes{};
        size_t length = 0;
        platform::SocketAddress from;
        int64_t second = -1;
    };

    std::shared_ptr<const TftpSettings> Settings();
    int MainThread();
    bool StartWorker(TftpWorker* w);
    void CreatePermanentWorkers();
    void StopWorkers();
    void AcceptRequest(platform::UdpSocket& listen);
    TftpWorker* PickRecord();
    void DropRecord(TftpWorker* w);
    void RemoveFinishedRecords();
    void PublishRecordCount();
    bool RememberRequest(const TftpWorker& w);
    const TftpWorker* RunningTransferOf(const TftpWorker& w) const;
    size_t RecordsInUse() const;
    size_t TransfersFrom(const TftpWorker& w) const;
    void DropRequest(platform::UdpSocket& listen);
    void RefuseRequest(platform::UdpSocket& listen, const TftpWorker& w);

    const std::string m_szBindAddress;
    const int m_iPort;
    const std::shared_ptr<TftpRunNumbers> m_numbers;

    std::mutex m_csSettings;  // guards m_settings, replaced by a Start on a running service
    std::shared_ptr<const TftpSettings> m_settings;

    const std::shared_ptr<TftpRunShared> m_shared;
    std::mutex m_csStarted;
    std::condition_variable m_cvStarted;
    bool m_bStarted = false;

    // Changed by the main thread only.
    std::list<std::unique_ptr<TftpWorker>> m_listRecords;
    DuplicateMemory m_duplicate;
    LogRateLimit m_dropLines;       // requests beyond the record limit
    LogRateLimit m_refuseLines;     // requests beyond the transfers of one address
    LogRateLimit m_duplicateLines;  // repeats of a request already answered

    // Last: started after everything above exists.
    platform::Thread m_hMainThread;
};

}  // namespace orvane
