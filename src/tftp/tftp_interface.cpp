// The TFTP service: start and stop, the main thread that accepts requests on the listening
// socket, and the worker threads (30 permanent ones, dynamic ones up to 100 records).
#include "tftp/tftp_interface.h"

#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/file.h"
#include "platform/thread.h"
#include "platform/udp_socket.h"
#include "platform/wake_event.h"
#include "support/log.h"
#include "tftp/tftp_transfer.h"
#include "tftp/tftpd_proc.h"

namespace orvane {

namespace {

constexpr int kStartPolls = 30;
constexpr int kStartPollMs = 100;
constexpr int kStopWaitMs = 60000;
constexpr int kWorkerEndWaitMs = 60000;
constexpr int kReapWaitMs = 10000;
constexpr int kFailedWaitPauseMs = 200;
constexpr int kDuplicateDelayMs = 250;
constexpr int kConnectFailDelayMs = 1000;
constexpr int kFirstTransferNumber = 467;

// The last accepted request, to tell a client's immediate repeat from a new request.
struct DuplicateMemory {
    std::array<uint8_t, kTftpPacketSize> bytes{};
    size_t length = 0;
    platform::SocketAddress from;
    int64_t second = -1;
};

// One run of the service, from a start to the end of its main thread. Everything the main
// thread and the workers use lives here; a run whose main thread misses the stop wait is
// never freed, so a late thread never touches released memory.
struct TftpRun {
    std::atomic<bool> running{true};
    // Set when the main thread collects its workers, also when it ends without a listening
    // socket while `running` stays set: a woken worker must then end, not serve an empty
    // record.
    std::atomic<bool> workersEnd{false};

    bool Serving() const { return running.load() && !workersEnd.load(); }
    std::mutex csStarted;
    std::condition_variable cvStarted;
    bool started = false;
    platform::WakeEvent wake;
    platform::Thread mainThread;
    std::string bindAddress;
    int port = TftpConfig::kPort;
    // Changed by the main thread only.
    std::list<std::unique_ptr<TftpTransfer>> records;
    DuplicateMemory duplicate;
};

class TftpService {
  public:
    std::mutex m_cs;  // guards the settings and the current run
    std::string m_szRoot = ".";
    std::string m_szBindAddress;
    int m_iPort = TftpConfig::kPort;
    std::unique_ptr<TftpRun> m_run;
    std::atomic<int> m_iTransferCounter{kFirstTransferNumber};
    std::atomic<int> m_iThreadNumber{0};
    std::atomic<size_t> m_iRecords{0};
    std::atomic<bool> m_bWriteAllowed{true};

    std::string Root() {
        std::lock_guard<std::mutex> lock(m_cs);
        return m_szRoot;
    }
};

TftpService& Service() {
    static TftpService service;
    return service;
}

std::string ErrorText(int err) {
    std::string text = platform::SystemErrorText(err).substr(0, 511);
    size_t cr = text.find('\r');
    return cr == std::string::npos ? text : text.substr(0, cr);
}

void LogNotAvailable(int code, const std::string& text, const std::string& bind) {
    WriteLog(kLogMajor,
             "Error %d\n%s\n\nOrvane tried to bind the %s port\nto the interface %s\nwhich is not "
             "available for this host\nEither remove the %s service or suppress %s interface "
             "assignation",
             code, text.c_str(), "tftp", bind.c_str(), "tftp", bind.c_str());
}

// Creates and binds the listening socket; false (everything logged) when it cannot be had.
bool CreateListeningSocket(const TftpRun& run, platform::UdpSocket* sock) {
    const std::string service = run.port == TftpConfig::kPort ? "tftp" : std::to_string(run.port);
    const bool byAddress = !run.bindAddress.empty();
    platform::ResolveResult resolved =
        platform::ResolvePassive(byAddress ? run.bindAddress.c_str() : nullptr, service.c_str());
    if (resolved.iError != 0) {
        if (resolved.bHostNotFound) {
            LogNotAvailable(resolved.iError, resolved.szText, run.bindAddress);
        } else {
            WriteLog(kLogMajor, "Error : Can't create socket\nError %d (%s)", resolved.iError,
                     resolved.szText.c_str());
        }
        return false;
    }
    if (!sock->OpenLike(resolved.address)) {
        WriteLog(kLogMajor, "Error : Can't create socket\nError %d (%s)", sock->LastError(),
                 ErrorText(sock->LastError()).c_str());
        return false;
    }
    if (sock->SetReuseAddress()) {
        WriteLog(kLogInfo, "Port %d may be reused", resolved.address.Port());
    } else {
        WriteLog(kLogInfo, "setsockopt error");
    }
    if (resolved.address.IsIPv6()) {
        sock->SetIPv6Only(false);  // a wildcard IPv6 socket then serves IPv4 clients too
    }
    sock->SetNonBlocking(true);
    if (!sock->Bind(resolved.address)) {
        const int err = sock->LastError();
        switch (platform::ClassifySocketError(err)) {
            case platform::SocketErrorKind::kInvalid:
            case platform::SocketErrorKind::kAddressInUse:
                WriteLog(kLogMajor,
                         "Error %d\n%s\n\nOrvane can not bind the %s port\nan application is "
                         "already listening on this port",
                         err, ErrorText(err).c_str(), "tftp");
                break;
            case platform::SocketErrorKind::kAddressNotAvailable:
                LogNotAvailable(err, ErrorText(err), run.bindAddress);
                break;
            default:
                WriteLog(kLogMajor, "Bind error %d\n%s", err, ErrorText(err).c_str());
                break;
        }
        sock->Close();
        WriteLog(kLogMajor, "bind port to %s port %s failed\n",
                 resolved.address.NumericHost().c_str(), resolved.address.NumericPort().c_str());
        return false;
    }
    return true;
}

// Steps 4 to 8 of a worker: its own socket connected to the client, then the transfer.
void ServeRequest(TftpTransfer& t) {
    t.peer = t.peer.Unmapped();
    bool ready = false;
    {
        std::lock_guard<std::mutex> lock(t.csSend);
        ready = t.socket.OpenLike(t.peer);
    }
    if (!ready) {
        WriteLog(kLogMajor, "Error : socket returns %d: <%s>", t.socket.LastError(),
                 ErrorText(t.socket.LastError()).c_str());
    } else if (!t.socket.BindAnyPort()) {
        WriteLog(kLogMajor, "Error : bind returns %d: <%s>", t.socket.LastError(),
                 ErrorText(t.socket.LastError()).c_str());
    } else if (!t.socket.Connect(t.peer)) {
        WriteLog(kLogMajor, "Error : connect returns %d: <%s>", t.socket.LastError(),
                 ErrorText(t.socket.LastError()).c_str());
        platform::SleepMs(kConnectFailDelayMs);
    } else {
        RunTftpTransfer(t);
    }
    {
        std::lock_guard<std::mutex> lock(t.csSend);
        t.socket.Close();
        t.connected = false;
    }
    t.file.Close();
    t.upload.Discard();
}

int TftpWorkerThread(TftpRun& run, TftpTransfer& t) {
    bool lowered = false;
    for (;;) {
        if (t.permanent.load()) {
            t.wake.Wait();
            // The wait has no time limit, so it only ends signalled (result 0); the system
            // error is what this thread's last failed call left.
            WriteLog(kLogDebug0, "tftp permanent thread signalled %d (%d)\n", 0, errno);
        }
        if (!run.Serving()) {
            break;
        }
        if (!lowered) {
            platform::LowerCurrentThreadPriority();
            lowered = true;
        }
        ServeRequest(t);
        if (!t.permanent.load()) {
            break;
        }
        t.busy = 0;
        if (!run.Serving()) {
            break;
        }
    }
    WriteLog(kLogDebug0, "tftp worker thread leaving %d\n", t.threadId.load());
    t.busy = 0;
    // The main thread removes finished dynamic records when woken. It waits for this thread
    // to end right after, so nothing that would delay the end follows.
    run.wake.Set();
    return 0;
}

bool StartWorker(TftpRun& run, TftpTransfer* t) {
    t->threadId = ++Service().m_iThreadNumber;
    return t->thread.Start([&run, t] { return TftpWorkerThread(run, *t); });
}

// Drops a record from the list once its thread has ended; a thread that does not end in time
// keeps its record for good, since it may still use it. True when the thread has ended.
bool ReleaseRecord(std::unique_ptr<TftpTransfer> record, int waitMs) {
    if (record->thread.IsStarted() && !record->thread.Wait(waitMs)) {
        WriteLog(kLogMajor, "tftp thread %d did not end, its record is kept",
                 record->threadId.load());
        static_cast<void>(record.release());
        return false;
    }
    return true;
}

void SetRecordCount(const TftpRun& run) {
    Service().m_iRecords = run.records.size();
}

void RemoveFinishedRecords(TftpRun& run) {
    // Bounded by the list: each pass removes one record.
    for (auto it = run.records.begin(); it != run.records.end();) {
        if (!(*it)->permanent.load() && !(*it)->busy.load()) {
            std::unique_ptr<TftpTransfer> record = std::move(*it);
            it = run.records.erase(it);
            ReleaseRecord(std::move(record), kReapWaitMs);
        } else {
            ++it;
        }
    }
    SetRecordCount(run);
}

// True (and remembered) when this request is new; false for a repeat of the last one from
// the same address within the same second.
bool RememberRequest(TftpRun& run, const TftpTransfer& t) {
    DuplicateMemory& d = run.duplicate;
    const int64_t now = platform::WallClockSeconds();
    if (d.length == t.requestLength && d.from == t.peer && d.second == now &&
        std::memcmp(d.bytes.data(), t.request.data(), t.requestLength) == 0) {
        return false;
    }
    d.bytes = t.request;
    d.length = t.requestLength;
    d.from = t.peer;
    d.second = now;
    return true;
}

// The running transfer that `t`'s request repeats: the same bytes from the same address and
// port. A client sends its request again when the first answer was lost or late; the transfer
// already answering resends on its own, and a second one would only take a record from another
// device (the limit holds as many records as a shelf of devices) and be refused by the client.
const TftpTransfer* RunningTransferOf(const TftpRun& run, const TftpTransfer& t) {
    for (const auto& r : run.records) {
        if (r.get() != &t && r->busy.load() && r->requestFrom == t.requestFrom &&
            r->requestLength == t.requestLength &&
            std::memcmp(r->request.data(), t.request.data(), t.requestLength) == 0) {
            return r.get();
        }
    }
    return nullptr;
}

TftpTransfer* PickRecord(TftpRun& run) {
    for (auto& r : run.records) {
        if (r->permanent.load() && !r->busy.load()) {
            return r.get();
        }
    }
    run.records.push_back(std::make_unique<TftpTransfer>());
    SetRecordCount(run);
    return run.records.back().get();
}

void DropRecord(TftpRun& run, TftpTransfer* t) {
    if (t->permanent.load()) {
        return;
    }
    run.records.remove_if([t](const std::unique_ptr<TftpTransfer>& r) { return r.get() == t; });
    SetRecordCount(run);
}

void AcceptRequest(TftpRun& run, platform::UdpSocket& listen) {
    if (run.records.size() >= TftpConfig::kRecordLimit) {
        uint8_t discard[kTftpPacketSize];
        platform::SocketAddress from;
        listen.ReceiveFromAddress(discard, sizeof discard, &from);
        WriteLog(kLogGeneral, "max number of threads reached, connection from %s dropped",
                 from.Unmapped().NumericHost().c_str());
        return;
    }
    TftpTransfer* t = PickRecord(run);
    t->Reset(Service().Root(), TftpConfig::kTimeoutSeconds, Service().m_iTransferCounter++,
             platform::WallClockSeconds());
    t->writeAllowed = Service().m_bWriteAllowed.load();
    WriteLog(kLogDebug0, "Transfert #%d", static_cast<int>(run.records.size() - 1));
    long n = listen.ReceiveFromAddress(t->request.data(), t->request.size(), &t->peer);
    if (n < 0) {
        WriteLog(kLogMajor, "Error : RecvFrom returns %d: <%s>", listen.LastError(),
                 ErrorText(listen.LastError()).c_str());
        DropRecord(run, t);
        return;
    }
    t->requestLength = static_cast<size_t>(n);
    t->requestFrom = t->peer;
    const platform::SocketAddress peer = t->peer.Unmapped();
    if (const TftpTransfer* running = RunningTransferOf(run, *t)) {
        WriteLog(kLogGeneral, "Warning : received duplicated request from %s:%s",
                 peer.NumericHost().c_str(), peer.NumericPort().c_str());
        WriteLog(kLogInfo, "transfer %d answers it already, request dropped",
                 running->transferNumber);
        DropRecord(run, t);
        return;
    }
    if (!RememberRequest(run, *t)) {
        WriteLog(kLogGeneral, "Warning : received duplicated request from %s:%s",
                 peer.NumericHost().c_str(), peer.NumericPort().c_str());
        platform::SleepMs(kDuplicateDelayMs);
    }
    WriteLog(kLogDebug0, "Connection received from %s on port %s", peer.NumericHost().c_str(),
             peer.NumericPort().c_str());
    t->busy = 1;
    if (t->permanent.load()) {
        WriteLog(kLogDebug0, "waking up thread %d for transfer %d\n", t->threadId.load(),
                 t->transferNumber);
        t->wake.Set();
        return;
    }
    if (!StartWorker(run, t)) {
        WriteLog(kLogMajor, "Error : thread for transfer %d not started", t->transferNumber);
        DropRecord(run, t);
        return;
    }
    WriteLog(kLogInfo, "Thread %d transfer %d started (records %p/%p)\n", t->threadId.load(),
             t->transferNumber, static_cast<void*>(run.records.front().get()),
             static_cast<void*>(t));
    WriteLog(kLogInfo, "thread %d started", t->threadId.load());
}

void CreatePermanentWorkers(TftpRun& run) {
    for (int i = 1; i <= TftpConfig::kPermanentWorkers; ++i) {
        auto record = std::make_unique<TftpTransfer>();
        record->permanent = 1;
        record->permanentIndex = i;
        TftpTransfer* raw = record.get();
        run.records.push_back(std::move(record));
        if (!StartWorker(run, raw)) {
            WriteLog(kLogMajor, "Error : permanent thread %d not started", i);
            run.records.pop_back();
        }
    }
    SetRecordCount(run);
}

void StopWorkers(TftpRun& run) {
    WriteLog(kLogInfo, "signalling worker threads\n");
    run.workersEnd = true;
    for (auto& r : run.records) {
        if (r->busy.load()) {
            CancelTftpTransfer(*r);
        } else if (r->permanent.load()) {
            r->wake.Set();
        }
    }
    WriteLog(kLogInfo, "waiting for worker threads\n");
    // Bounded by the list: each pass removes its first record.
    while (!run.records.empty()) {
        std::unique_ptr<TftpTransfer> record = std::move(run.records.front());
        run.records.pop_front();
        const int threadId = record->threadId.load();
        record->permanent = 0;
        if (ReleaseRecord(std::move(record), kWorkerEndWaitMs)) {
            WriteLog(kLogDebug0, "tftp End of thread %d\n", threadId);
        }
    }
    SetRecordCount(run);
}

int TftpMainThread(TftpRun& run) {
    if (run.records.empty()) {
        CreatePermanentWorkers(run);
    }
    // The socket is bound before the start call is released, so a client told to fetch a
    // file right after Start finds the port open. A failed bind still counts as started.
    platform::UdpSocket listen;
    bool listening = CreateListeningSocket(run, &listen);
    {
        std::lock_guard<std::mutex> lock(run.csStarted);
        run.started = true;
    }
    run.cvStarted.notify_all();

    while (listening && run.running.load()) {
        int ready =
            platform::WaitForAny({listen.Handle(), run.wake.Handle()}, TftpConfig::kMainWaitMs);
        if (!run.running.load()) {
            break;
        }
        if (ready == 0) {
            AcceptRequest(run, listen);
        }
        // Looked at on every pass, not only when the socket is quiet: under a stream of
        // requests the socket is always ready first, and finished workers would then hold
        // their records (and the record limit) for as long as the stream lasts.
        if (ready >= 0 && run.wake.Consume()) {
            RemoveFinishedRecords(run);
        }
        if (ready == -2) {
            WriteLog(kLogInfo, "WaitForMultipleObjects error %d\n", errno);
            WriteLog(kLogGeneral, "WaitForMultipleObjects error %d", errno);
            // A wait that keeps failing must not turn into a busy loop that floods the log.
            platform::SleepMs(kFailedWaitPauseMs);
        }
    }
    StopWorkers(run);
    listen.Close();
    WriteLog(kLogInfo, "main TFTP thread ends here\n");
    return 0;
}

bool WaitStarted(TftpRun* run) {
    if (run == nullptr) {
        return false;
    }
    std::unique_lock<std::mutex> lock(run->csStarted);
    return run->cvStarted.wait_for(lock,
                                   std::chrono::milliseconds((kStartPolls - 1) * kStartPollMs),
                                   [run] { return run->started; });
}

}  // namespace

void StartTftp(const char* bindAddress, const char* rootFolder) {
    TftpService& service = Service();
    TftpRun* run = nullptr;
    {
        std::lock_guard<std::mutex> lock(service.m_cs);
        service.m_szBindAddress.clear();
        if (bindAddress && std::isdigit(static_cast<unsigned char>(bindAddress[0]))) {
            service.m_szBindAddress =
                std::string(bindAddress).substr(0, TftpConfig::kMaxBindAddress);
        }
        if (rootFolder && platform::IsDirectory(rootFolder)) {
            if (std::strlen(rootFolder) <= TftpConfig::kMaxRoot) {
                service.m_szRoot = rootFolder;
            } else {
                // A cut path would name another folder: keep the previous root instead.
                WriteLog(kLogMajor, "root folder <%s> too long, kept <%s>", rootFolder,
                         service.m_szRoot.c_str());
            }
        }
        if (!service.m_run) {
            auto fresh = std::make_unique<TftpRun>();
            fresh->bindAddress = service.m_szBindAddress;
            fresh->port = service.m_iPort;
            TftpRun* raw = fresh.get();
            if (raw->wake.IsValid() &&
                raw->mainThread.Start([raw] { return TftpMainThread(*raw); })) {
                service.m_run = std::move(fresh);
            }
        }
        run = service.m_run.get();
    }
    if (WaitStarted(run)) {
        WriteLog(kLogInfo, "services %s started, init done", "TFTP");
    } else {
        WriteLog(kLogMajor, "service %s not started", "TFTP");
    }
    platform::ResolveResult any6 = platform::ResolvePassive("::", "0");
    platform::UdpSocket probe;
    if (any6.iError == 0 && probe.OpenLike(any6.address)) {
        WriteLog(kLogInfo, "IPv6 enabled");
    }
}

void StopTftp() {
    TftpService& service = Service();
    std::unique_ptr<TftpRun> run;
    {
        std::lock_guard<std::mutex> lock(service.m_cs);
        run = std::move(service.m_run);
    }
    if (run) {
        run->running = false;
        run->wake.Set();
        if (!run->mainThread.Wait(kStopWaitMs)) {
            WriteLog(kLogMajor, "main TFTP thread did not end, left running");
            static_cast<void>(run.release());
        }
    }
    WriteLog(kLogInfo, "threads have returned\n");
}

void SetTftpWriteAllowed(bool allowed) {
    Service().m_bWriteAllowed = allowed;
}

void SetTftpPort(int port) {
    std::lock_guard<std::mutex> lock(Service().m_cs);
    Service().m_iPort = port;
}

size_t TftpRecordCount() {
    return Service().m_iRecords.load();
}

}  // namespace orvane
