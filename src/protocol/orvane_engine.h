#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cloud/cloud_download.h"
#include "firmware/upgrade_catalogue.h"
#include "platform/thread.h"
#include "protocol/batch_gate.h"
#include "protocol/cloud_request_queue.h"
#include "protocol/cloud_thread.h"
#include "protocol/device_listener.h"
#include "protocol/device_table.h"
#include "protocol/engine_counters.h"
#include "protocol/ip_allocator.h"
#include "protocol/reply_sender.h"
#include "protocol/report_handler.h"
#include "protocol/request_handler.h"
#include "protocol/run_state.h"
#include "tftp/tftp_service.h"

namespace orvane {

class ServiceView;

// What Start hands the engine.
struct ServiceConfig {
    std::string szLocalIP;              // serving IPv4 address
    std::string szLocalMac;             // serving adapter's MAC, "00:1A:2B:3C:4D:5E"
    std::string szUpgradeFolder;        // firmware folder, also the TFTP root
    int iThreadWaitMs = kThreadWaitMs;  // Stop's wait for each thread (tests shorten it)
    // The TFTP service's settings (upload switch, limits); its root and bind address are
    // the two above, filled in by the engine.
    TftpSettings tftp{};
    // PEM public key of the signed list (SHA256SUMS, SHA256SUMS.sig) that must vouch for every
    // file offered; empty offers every firmware file.
    std::string szTrustKey{};
};

// Stand-ins for the request and report handling, for tests of the threads around them. Set
// before StartService. Whatever they use must outlive the engine (declare it first): the
// engine's destructor waits for every thread that may still be inside one.
struct HandlerHooks {
    std::function<void(const std::string& text, int sequence)> request;
    std::function<int(int event, const std::string& text)> report;
    // Called by the clean-up thread before each pass that reaps finished request workers.
    std::function<void()> reap;
};

// The upgrade service: its parts (the listener, the request and report handling, the cloud
// thread, the catalogue, the device table), the run's settings they read, and the order in
// which Start and Stop run their threads. It knows no UI; it reaches the front-end only through
// ServiceView.
//
// Final, and its handlers are not virtual: a derived class would be torn down while threads
// still run inside its overrides, before this destructor could stop them (tests replace the
// handlers with HandlerHooks instead). The destructor stops the service and then waits,
// without limit, for every thread of every run, also those that missed Stop's waits: they
// all use this object.
class OrvaneEngine final {
  public:
    explicit OrvaneEngine(ServiceView& view);
    ~OrvaneEngine();
    OrvaneEngine(const OrvaneEngine&) = delete;
    OrvaneEngine& operator=(const OrvaneEngine&) = delete;

    // Starts the service in its order: TFTP service, catalogue, then the threads: clean-up,
    // dispatcher, 20 ms, listener, cloud thread, folder watcher. False when a thread could not
    // be created (what was started is stopped again).
    bool StartService(const ServiceConfig& config);
    // Stop order: flag cleared, TFTP service stopped, dispatcher told to quit, then up to 10 s
    // each for the dispatcher, listener, clean-up and cloud threads and 1 s for the watcher.
    // Safe to call when not running.
    void StopService();
    bool IsRunning() const { return m_bStartUpgrade.load() != 0; }

    void SetPause(bool paused) { m_bPauseTest = paused ? 1 : 0; }
    bool IsPaused() const { return m_bPauseTest.load() != 0; }

    // Whether the update service answered the last reachability check; cloud requests are
    // queued only while it did.
    void SetNetConnected(bool connected) { m_bNetConnected = connected ? 1 : 0; }
    bool IsNetConnected() const { return m_bNetConnected.load() != 0; }

    // The dispatcher and clean-up threads' bodies, each serving the run it was started for.
    int DispatchMsgProc(RunState& run);
    int CleanThreadProc(RunState& run);

    // Starts `body` as a thread of the current run (see RunState::StartThread); for a new
    // service thread, called by StartService before the folder watcher and awaited in
    // StopService with WaitRunThread. False when stopped or no thread could be made.
    bool StartRunThread(platform::Thread& handle, const char* name,
                        std::function<int(RunState& run)> body,
                        platform::ThreadOptions options = {});
    // Stop's wait for one thread of the run being stopped (logged when it is missed).
    void WaitRunThread(platform::Thread& handle, const char* name);
    void SetHandlerHooks(HandlerHooks hooks) { m_hooks = std::move(hooks); }

    // The parts, for the front-ends and tests.
    RequestHandler& Requests() { return m_requestHandler; }
    ReportHandler& Reports() { return m_reportHandler; }
    UpgradeCatalogue& Catalogue() { return m_catalogue; }
    const UpgradeCatalogue& Catalogue() const { return m_catalogue; }
    CloudThread& Cloud() { return m_cloudThread; }
    const DeviceListener& Listener() const { return m_listener; }

    // The device table and list with the counters, shared by both front-ends.
    DeviceTable& Devices() { return m_deviceTable; }
    const DeviceTable& Devices() const { return m_deviceTable; }
    // The requests parked for the cloud thread.
    const CloudRequestQueue& CloudRequests() const { return m_cloudRequests; }

    // Waits until the listener has bound port 10011: 1 listening, -1 it failed, 0 still
    // pending after timeoutMs.
    int WaitListening(int timeoutMs) { return m_listener.WaitListening(timeoutMs); }

    // The allocation cursor m_szNextIP; Start sets it, Stop leaves it.
    void SetNextIP(const std::string& cursor) { m_ipAllocator.SetNextIP(cursor); }
    std::string NextIP() const { return m_ipAllocator.NextIP(); }
    // Rebuilds the firmware catalogue from `folder`; lookups wait while it runs.
    void SaveUpgradeFileInfo(const std::string& folder) { m_catalogue.SaveUpgradeFileInfo(folder); }

    // Entries of the signed list the last rebuild checked; -1 without a trust key or when the
    // list failed its check.
    int SignedListCount() const { return m_catalogue.SignedListCount(); }
    // Counts a signed list refused before the engine started (Start's own check).
    void NoteSignedListRefused() { ++m_counters.firmwareRefused.signature; }

    // Time-outs of cloud firmware downloads; set before Start.
    void SetCloudDownloadLimits(const DownloadLimits& limits) {
        m_cloudThread.SetDownloadLimits(limits);
    }

    // The site's upgrade controls (scope, devices at once, first group, halt); set before
    // StartService, which begins a new run of them.
    void SetBatchSettings(const BatchSettings& settings) { m_batchSettings = settings; }
    const BatchGate& Batch() const { return m_batch; }
    // The note line's text in the program's language; empty when nothing is set.
    std::string BatchNote() const;
    // Gives up on devices under way that have been silent for the stall time (clean-up
    // thread): each gets its "incomplete" and frees its place.
    void RetireStalledDevices();

    // Totals of requests, drops and cloud work since the process began (metrics).
    const EngineCounters& Counters() const { return m_counters; }

    ServiceView& View() const { return m_view; }
    const std::string& LocalIP() const { return m_szLocalIP; }
    const std::string& LocalMac() const { return m_szLocalMac; }
    int RequestSeq() const { return m_listener.RequestSeq(); }
    // Request workers listed in the current run (0 when stopped).
    size_t WorkerCount() const;
    // Threads of every run that have not ended yet, also those that missed Stop's waits.
    size_t LiveThreadCount() const;

  private:
    void StartTftpService(const ServiceConfig& config);
    // A device's fetch of a file the signed list does not vouch for (any more) was refused.
    void ShowUnvouchedFetch(const std::string& peerAddress, const std::string& fileName);
    void StartCloudThread();
    void StopCloudThread();
    void StartFolderWatcher();
    void StopFolderWatcher();
    void HandleDispatchMessage(DispatchMessage& msg);
    void ApplyRunSettings(const ServiceConfig& config);
    RunToken CurrentRun() const;
    void WaitEndedRuns(const char* who);

    ServiceView& m_view;
    DeviceTable m_deviceTable;
    EngineCounters m_counters;
    // Observes m_deviceTable's outcomes (added in the constructor).
    BatchGate m_batch;
    BatchSettings m_batchSettings;  // the next Start's
    TftpService m_tftpService;

    std::atomic<int> m_bStartUpgrade{0};
    std::atomic<int> m_bPauseTest{0};
    std::atomic<int> m_bNetConnected{0};
    // Set before the threads start and constant while they run.
    std::string m_szLocalIP;
    std::string m_szLocalMac;
    std::string m_szUpgradeFolder;
    // Holds m_szNextIP under the allocation lock.
    IpAllocator m_ipAllocator;

    const std::shared_ptr<TftpVouchedFiles> m_vouched = std::make_shared<TftpVouchedFiles>();
    UpgradeCatalogue m_catalogue;
    CloudRequestQueue m_cloudRequests;
    BroadcastReplySender m_replySender{m_szLocalIP};
    RequestHandler m_requestHandler;
    ReportHandler m_reportHandler;
    CloudThread m_cloudThread;
    DeviceListener m_listener;

    HandlerHooks m_hooks;
    // The current run (none while stopped), set and cleared by Start and Stop; runs that
    // ended with threads still alive are kept until those end, for the destructor's wait.
    mutable std::mutex m_csRun;
    RunToken m_run;
    std::vector<RunToken> m_vecEndedRuns;
    platform::Thread m_hOtherRecvMsgHnd;  // dispatcher
    platform::Thread m_hListenThread;
    platform::Thread m_hCleanThread;
    platform::Thread m_hWatchThread;
    platform::Thread m_hCloudThread;
};

}  // namespace orvane
