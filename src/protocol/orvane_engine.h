#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cloud/cloud_download.h"
#include "firmware/upgrade_file_info.h"
#include "platform/thread.h"
#include "protocol/batch_gate.h"
#include "protocol/cloud_request_queue.h"
#include "protocol/device_message.h"
#include "protocol/device_table.h"
#include "protocol/engine_counters.h"
#include "protocol/ip_allocator.h"
#include "protocol/run_state.h"
#include "tftp/tftp_service.h"

namespace orvane {

class ServiceView;
class OrvaneEngine;

// Dispatcher thread messages (values kept from the thread-message numbering WM_USER + n).
constexpr unsigned WM_OTHRE_MSG = 0x0400 + 100;      // a datagram for the report handling
constexpr unsigned WM_QUIT_DISPATCH = 0x0400 + 101;  // leave the dispatch loop
constexpr unsigned WM_RESCAN_FOLDER = 0x0400 + 102;  // rebuild the firmware catalogue

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

// The upgrade service: all run-time state shared by the protocol threads, and the threads
// themselves. It knows no UI; it reaches the front-end only through ServiceView.
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
    // The cloud query's language value for an effective language; empty for none.
    std::string LanguageCode(int language) const {
        auto it = m_mapLanguageCode.find(language);
        return it == m_mapLanguageCode.end() ? std::string() : it->second;
    }

    // Thread bodies, each serving the run it was started for.
    int ListenIPCPortProc(RunState& run);
    int DispatchMsgProc(RunState& run);
    int RequestIpMsgProc(ThreadInfo* info);
    int CleanThreadProc(RunState& run);
    int CloudFirmwareProc(RunState& run);

    // Starts `body` as a thread of the current run; for the service's own threads, called by
    // StartService (a new service thread starts there, before the folder watcher, and is
    // awaited in StopService with WaitRunThread). The thread holds its run until it ends, so
    // its loop runs `while (run.IsRunning())` and reaches only its own run's queue however
    // late it ends; an exception escaping `body` ends the thread with a log line naming
    // `name`; the destructor waits for the thread. Captures of `body` must not touch the
    // engine when destroyed. False when stopped or no thread could be made.
    bool StartRunThread(platform::Thread& handle, const char* name,
                        std::function<int(RunState& run)> body,
                        platform::ThreadOptions options = {});
    // Stop's wait for one thread of the run being stopped (logged when it is missed).
    void WaitRunThread(platform::Thread& handle, const char* name);
    void SetHandlerHooks(HandlerHooks hooks) { m_hooks = std::move(hooks); }

    // Broadcasts `len` bytes of text and its NUL to 255.255.255.255:10010 from m_szLocalIP.
    // 0 after one send attempt; -1 no socket; -2 bind failed.
    int SendToIPC(const char* text, size_t len);

    // Queues a message for the run's dispatcher; false when the run has ended or, for a
    // datagram, kDispatchQueueLimit wait already (the record is then freed).
    bool PostDispatchMessage(RunState& run, unsigned message,
                             std::unique_ptr<MsgParam> param = nullptr);

    // Handles one address request on its worker thread.
    void RequestIpaddrProc(const std::string& text, int sequence);
    // Handles one report on the dispatcher thread: 0, or -1 to -7 for a report dropped.
    int ReportMsgProc(int event, const std::string& text);
    // The status text of a report event (kReportStages) and state code 0..7 in the calling
    // thread's language (left as it was where the stage has none); raises the window for a
    // failure. -1 for an event or state out of range.
    int GetIPCStateText(int event, int state, std::string& text);

    // Looks the model up in the catalogue and copies the chosen record into `out`: 0 chosen;
    // 1 no record of the model; 2 nothing newer; 3 the device is newer or has no version.
    int FindNewVersion(const std::string& model, const std::string& verNum, UpgradeFileInfo* out);
    // Answers one device (or parks it for the cloud when allowed and no file of its model is
    // there); true when a reply was sent. Runs on request workers and the cloud thread;
    // `sequence` numbers the request's log lines.
    bool assignIPAndFirmware(const DeviceRequest& request, int sequence, bool cloudAllowed);

    // The device table and list with the counters, shared by both front-ends.
    DeviceTable& Devices() { return m_deviceTable; }
    const DeviceTable& Devices() const { return m_deviceTable; }
    // The requests parked for the cloud thread.
    const CloudRequestQueue& CloudRequests() const { return m_cloudRequests; }

    // Waits until the listener has bound port 10011: 1 listening, -1 it failed, 0 still
    // pending after timeoutMs.
    int WaitListening(int timeoutMs);

    // A device address from the serving /24 (see IpAllocator::GetNotUseIp); the presence
    // test follows the view's "IP occupancy detection" box at the moment of the call.
    int GetNotUseIp(char* szNewIp, const char* szLocalIP, int sequence) {
        return m_ipAllocator.GetNotUseIp(szNewIp, szLocalIP, sequence);
    }
    // The allocation cursor m_szNextIP; Start sets it, Stop leaves it.
    void SetNextIP(const std::string& cursor) { m_ipAllocator.SetNextIP(cursor); }
    std::string NextIP() const { return m_ipAllocator.NextIP(); }
    // Rebuilds the firmware catalogue from `folder`; lookups wait while it runs.
    void SaveUpgradeFileInfo(const std::string& folder);
    // Runs `fn` on the catalogue under its lock (a lookup that copies the chosen record out,
    // or adding a downloaded file). `fn` must not take any other engine lock.
    void WithUpgradeFileInfo(const std::function<void(std::vector<UpgradeFileInfo>&)>& fn);
    // A copy of the catalogue as it is now.
    std::vector<UpgradeFileInfo> GetUpgradeFileInfo() const;
    // Number of catalogue rebuilds so far; WaitCatalogueRebuilds waits up to timeoutMs for
    // that number to reach `count` and returns whether it did.
    unsigned CatalogueRebuilds() const;
    bool WaitCatalogueRebuilds(unsigned count, int timeoutMs) const;

    // Entries of the signed list the last rebuild checked; -1 without a trust key or when the
    // list failed its check.
    int SignedListCount() const { return m_trust.ListCount(); }
    // Counts a signed list refused before the engine started (Start's own check).
    void NoteSignedListRefused() { ++m_counters.firmwareRefused.signature; }

    // Time-outs of cloud firmware downloads; set before Start.
    void SetCloudDownloadLimits(const DownloadLimits& limits) { m_cloudDownloadLimits = limits; }

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
    int RequestSeq() const { return m_iRequestSeq.load(); }
    // Request workers listed in the current run (0 when stopped).
    size_t WorkerCount() const;
    // Threads of every run that have not ended yet, also those that missed Stop's waits.
    size_t LiveThreadCount() const;

  private:
    // Parks the request for the cloud thread (dropped, logged, when the queue is full or the
    // table takes no more devices) and shows the device's "Cloud firmware download" row; a
    // device that waits already only has its entry take this request's Cseq.
    void ParkCloudRequest(const DeviceRequest& request, int sequence);
    // The request handling's answers for devices the run does not upgrade (now).
    void AnswerNoUpgrade(const DeviceRequest& request, int statusText);
    void ShowWaitingRow(const DeviceRequest& request);
    void SetListenState(int state);
    void StartTftpService(const ServiceConfig& config);
    void StopTftpService();
    void RebuildCatalogue();
    // Hands the TFTP service the files the signed list vouched for; under the catalogue lock.
    void PublishVouchedFiles();
    // A device's fetch of a file the signed list does not vouch for (any more) was refused.
    void ShowUnvouchedFetch(const std::string& peerAddress, const std::string& fileName);
    void StartCloudThread();
    void StopCloudThread();
    void ServeCloudRequest(const CloudRequest& request, RunState& run);
    std::function<bool(const std::string& path)> VouchedDownloadCheck();
    void ShowCloudStatus(const CloudRequest& request, const std::string& status);
    void StartFolderWatcher();
    void StopFolderWatcher();
    void ReapFinishedWorkers(RunState& run);
    void RescanFolder(const std::string& folder);
    void StartRequestWorker(RunState& run, const char* text);
    void LogDroppedRequests(RunState& run);
    void PostDatagram(RunState& run, const char* text, int type);
    void HandleDispatchMessage(DispatchMessage& msg);
    void ApplyRunSettings(const ServiceConfig& config);
    void StopWorkers(RunState& run);
    RunToken CurrentRun() const;
    void WaitEndedRuns(const char* who);
    bool StartThreadOf(RunState& run, platform::Thread& handle, const char* name,
                       std::function<int(RunState& run)> body, platform::ThreadOptions options);

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
    // Language code of the cloud query by effective language (g_iLanguage).
    const std::map<int, std::string> m_mapLanguageCode{{1, "zh_CN"}, {2, "en"}};
    // Set before the threads start and constant while they run.
    std::string m_szLocalIP;
    std::string m_szLocalMac;
    std::string m_szUpgradeFolder;
    // Changed by the listener only (and reset by Start); atomic so readers see whole values.
    std::atomic<int> m_iRequestSeq{0};
    // Holds m_szNextIP under the allocation lock.
    IpAllocator m_ipAllocator;

    std::mutex m_csListenState;
    std::condition_variable m_cvListenState;
    int m_iListenState = 0;  // 0 not yet bound, 1 listening, -1 bind failed

    // Held for a whole rebuild; never together with another engine lock.
    mutable std::mutex m_csUpgradeFileInfo;
    std::vector<UpgradeFileInfo> m_vecUpgradeFileInfo;
    mutable std::condition_variable m_cvCatalogueRebuilt;
    unsigned m_uCatalogueRebuilds = 0;                   // guarded by m_csUpgradeFileInfo
    FirmwareTrust m_trust{&m_counters.firmwareRefused};  // guarded by m_csUpgradeFileInfo
    const std::shared_ptr<TftpVouchedFiles> m_vouched = std::make_shared<TftpVouchedFiles>();

    CloudRequestQueue m_cloudRequests;
    DownloadLimits m_cloudDownloadLimits;

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
