// The main thread that accepts requests and the worker threads that run the transfers.
#include "tftp/tftp_worker_pool.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "platform/clock.h"
#include "support/log.h"
#include "tftp/tftp_listen.h"
#include "tftp/tftp_serve.h"
#include "tftp/tftp_worker_record.h"

namespace orvane {

namespace {

constexpr int kWorkerEndWaitMs = 60000;
constexpr int kReapWaitMs = 10000;
constexpr int kFailedWaitPauseMs = 200;
constexpr int kConnectFailDelayMs = 1000;
// A worker's stack: a transfer needs a few KiB (its buffers live in its record), and a
// thousand workers at the system's default would reserve 8 GiB of address space.
constexpr size_t kWorkerStackBytes = 256 * 1024;
constexpr const char* kTooManyFromAddress = "too many transfers from this address";

// Steps 4 to 8 of a worker: its own socket connected to the client, then the transfer.
void ServeRequest(TftpWorker& w) {
    TftpTransfer& t = w.transfer;
    t.peer = t.peer.Unmapped();
    bool ready = false;
    {
        std::lock_guard<std::mutex> lock(t.csSend);
        ready = t.socket.OpenLike(t.peer);
    }
    if (!ready) {
        WriteLog(kLogMajor, "Error : socket returns %d: <%s>", t.socket.LastError(),
                 TftpSystemText(t.socket.LastError()).c_str());
    } else if (!t.socket.BindAnyPort()) {
        WriteLog(kLogMajor, "Error : bind returns %d: <%s>", t.socket.LastError(),
                 TftpSystemText(t.socket.LastError()).c_str());
    } else if (!t.socket.Connect(t.peer)) {
        WriteLog(kLogMajor, "Error : connect returns %d: <%s>", t.socket.LastError(),
                 TftpSystemText(t.socket.LastError()).c_str());
        platform::SleepMs(kConnectFailDelayMs);
    } else {
        RunTftpTransfer(t, w.request.data(), std::min(w.requestLength, w.request.size()));
    }
    {
        std::lock_guard<std::mutex> lock(t.csSend);
        t.socket.Close();
        t.connected = false;
    }
    t.file.Close();
    t.upload.Discard();
}

// Drops a record from the list once its thread has ended; a thread that does not end in time
// keeps its record for good, since it may still use it. True when the thread has ended.
bool ReleaseRecord(std::unique_ptr<TftpWorker> record, int waitMs) {
    if (record->thread.IsStarted() && !record->thread.Wait(waitMs)) {
        WriteLog(kLogMajor, "tftp thread %d did not end, its record is kept",
                 record->threadId.load());
        static_cast<void>(record.release());
        return false;
    }
    return true;
}

// One worker's life: a permanent worker serves one request after another until the run ends,
// a dynamic one serves one. It touches its record and `shared` only.
int WorkerThread(TftpRunShared& shared, TftpWorker& w) {
    bool lowered = false;
    for (;;) {
        if (w.permanent.load()) {
            w.wake.Wait();
            // The wait has no time limit, so it only ends signalled (result 0); the system
            // error is what this thread's last failed call left.
            WriteLog(kLogDebug0, "tftp permanent thread signalled %d (%d)\n", 0, errno);
        }
        if (!shared.Serving()) {
            break;
        }
        if (!lowered) {
            platform::LowerCurrentThreadPriority();
            lowered = true;
        }
        ServeRequest(w);
        if (!w.permanent.load()) {
            break;
        }
        w.busy = 0;
        if (!shared.Serving()) {
            break;
        }
    }
    WriteLog(kLogDebug0, "tftp worker thread leaving %d\n", w.threadId.load());
    w.busy = 0;
    // The main thread removes finished dynamic records when woken. It waits for this thread
    // to end right after, so nothing that would delay the end follows.
    shared.wake.Set();
    return 0;
}

}  // namespace

TftpRun::TftpRun(std::shared_ptr<const TftpSettings> settings,
                 std::shared_ptr<TftpRunNumbers> numbers)
    : m_szBindAddress(settings->bindAddress),
      m_iPort(settings->port),
      m_numbers(std::move(numbers)),
      m_settings(std::move(settings)),
      m_shared(std::make_shared<TftpRunShared>()) {}

TftpRun::~TftpRun() = default;

bool TftpRun::Begin() {
    return m_shared->wake.IsValid() && m_hMainThread.Start([this] { return MainThread(); });
}

bool TftpRun::WaitStarted(int waitMs) {
    std::unique_lock<std::mutex> lock(m_csStarted);
    return m_cvStarted.wait_for(lock, std::chrono::milliseconds(waitMs),
                                [this] { return m_bStarted; });
}

void TftpRun::SetSettings(std::shared_ptr<const TftpSettings> settings) {
    std::lock_guard<std::mutex> lock(m_csSettings);
    m_settings = std::move(settings);
}

std::shared_ptr<const TftpSettings> TftpRun::Settings() {
    std::lock_guard<std::mutex> lock(m_csSettings);
    return m_settings;
}

bool TftpRun::End(int waitMs) {
    m_shared->running = false;
    m_shared->wake.Set();
    return m_hMainThread.Wait(waitMs);
}

bool TftpRun::StartWorker(TftpWorker* w) {
    w->threadId = ++m_numbers->threadNumber;
    platform::ThreadOptions options;
    options.stackBytes = kWorkerStackBytes;
    return w->thread.Start([shared = m_shared, w] { return WorkerThread(*shared, *w); }, options);
}

void TftpRun::PublishRecordCount() {
    m_numbers->records = m_listRecords.size();
}

void TftpRun::RemoveFinishedRecords() {
    // Bounded by the list: each pass removes one record.
    for (auto it = m_listRecords.begin(); it != m_listRecords.end();) {
        if (!(*it)->permanent.load() && !(*it)->busy.load()) {
            std::unique_ptr<TftpWorker> record = std::move(*it);
            it = m_listRecords.erase(it);
            ReleaseRecord(std::move(record), kReapWaitMs);
        } else {
            ++it;
        }
    }
    PublishRecordCount();
}

// True (and remembered) when this request is new; false for a repeat of the last one from
// the same address within the same second.
bool TftpRun::RememberRequest(const TftpWorker& w) {
    DuplicateMemory& d = m_duplicate;
    const int64_t now = platform::WallClockSeconds();
    if (d.length == w.requestLength && d.from == w.requestFrom && d.second == now &&
        std::memcmp(d.bytes.data(), w.request.data(), w.requestLength) == 0) {
        return false;
    }
    d.bytes = w.request;
    d.length = w.requestLength;
    d.from = w.requestFrom;
    d.second = now;
    return true;
}

// The running transfer that `w`'s request repeats: the same bytes from the same address and
// port. A client sends its request again when the first answer was lost or late; the transfer
// already answering resends on its own, and a second one would only take a record from another
// device (the limit holds as many records as a shelf of devices) and be refused by the client.
const TftpWorker* TftpRun::RunningTransferOf(const TftpWorker& w) const {
    for (const auto& r : m_listRecords) {
        if (r.get() != &w && r->busy.load() && r->requestFrom == w.requestFrom &&
            r->requestLength == w.requestLength &&
            std::memcmp(r->request.data(), w.request.data(), w.requestLength) == 0) {
            return r.get();
        }
    }
    return nullptr;
}

// Records that hold a transfer or a thread not yet collected: every one but the idle
// permanent ones, which a limit below the permanent workers' number would otherwise fill.
size_t TftpRun::RecordsInUse() const {
    size_t n = 0;
    for (const auto& r : m_listRecords) {
        n += r->busy.load() || !r->permanent.load();
    }
    return n;
}

// Transfers under way for the host `w`'s request came from, whatever their ports.
size_t TftpRun::TransfersFrom(const TftpWorker& w) const {
    size_t n = 0;
    for (const auto& r : m_listRecords) {
        n += r.get() != &w && r->busy.load() && r->requestFrom.SameHost(w.requestFrom);
    }
    return n;
}

// A request beyond the record limit is read and dropped unanswered: the device asks again, and
// a slot has usually freed by then.
void TftpRun::DropRequest(platform::UdpSocket& listen) {
    uint8_t discard[kTftpPacketSize];
    platform::SocketAddress from;
    listen.ReceiveFromAddress(discard, sizeof discard, &from);
    WriteLogLimited(m_dropLines, kLogMajor,
                    "max number of threads reached, connection from %s dropped",
                    from.Unmapped().NumericHost().c_str());
}

// A request beyond the transfers one address may hold is answered at once from the listening
// socket: no record, no thread, and the client stops asking.
void TftpRun::RefuseRequest(platform::UdpSocket& listen, const TftpWorker& w) {
    uint8_t packet[64];
    const size_t len =
        BuildTftpError(packet, sizeof packet, kTftpErrUndefined, kTooManyFromAddress);
    listen.SendToAddress(packet, len, w.requestFrom);
    WriteLogLimited(m_refuseLines, kLogMajor, "%s %s: request refused", kTooManyFromAddress,
                    w.requestFrom.Unmapped().NumericHost().c_str());
}

TftpWorker* TftpRun::PickRecord() {
    for (auto& r : m_listRecords) {
        if (r->permanent.load() && !r->busy.load()) {
            return r.get();
        }
    }
    m_listRecords.push_back(std::make_unique<TftpWorker>());
    PublishRecordCount();
    return m_listRecords.back().get();
}

void TftpRun::DropRecord(TftpWorker* w) {
    if (w->permanent.load()) {
        return;
    }
    m_listRecords.remove_if([w](const std::unique_ptr<TftpWorker>& r) { return r.get() == w; });
    PublishRecordCount();
}

void TftpRun::AcceptRequest(platform::UdpSocket& listen) {
    std::shared_ptr<const TftpSettings> settings = Settings();
    if (RecordsInUse() >= settings->maxTransfers) {
        DropRequest(listen);
        return;
    }
    TftpWorker* w = PickRecord();
    w->Take(std::move(settings), TftpConfig::kTimeoutSeconds, m_numbers->transferNumber++,
            platform::WallClockSeconds());
    long n = listen.ReceiveFromAddress(w->request.data(), w->request.size(), &w->requestFrom);
    if (n < 0) {
        WriteLog(kLogMajor, "Error : RecvFrom returns %d: <%s>", listen.LastError(),
                 TftpSystemText(listen.LastError()).c_str());
        DropRecord(w);
        return;
    }
    w->requestLength = static_cast<size_t>(n);
    w->transfer.peer = w->requestFrom;
    const platform::SocketAddress peer = w->requestFrom.Unmapped();
    if (const TftpWorker* running = RunningTransferOf(*w)) {
        WriteLogLimited(m_duplicateLines, kLogGeneral,
                        "Warning : received duplicated request from %s:%s: transfer %d answers "
                        "it already, request dropped",
                        peer.NumericHost().c_str(), peer.NumericPort().c_str(),
                        running->transferNumber);
        DropRecord(w);
        return;
    }
    if (TransfersFrom(*w) >= w->transfer.settings->transfersPerAddress) {
        RefuseRequest(listen, *w);
        DropRecord(w);
        return;
    }
    // The same request again within its second, its transfer over: answered already, and a
    // pause here would hold every other request behind one sender's repeats.
    if (!RememberRequest(*w)) {
        WriteLogLimited(m_duplicateLines, kLogGeneral,
                        "Warning : received duplicated request from %s:%s: request dropped",
                        peer.NumericHost().c_str(), peer.NumericPort().c_str());
        DropRecord(w);
        return;
    }
    WriteLog(kLogDebug0, "Transfert #%d", static_cast<int>(m_listRecords.size() - 1));
    WriteLog(kLogDebug0, "Connection received from %s on port %s", peer.NumericHost().c_str(),
             peer.NumericPort().c_str());
    w->busy = 1;
    if (w->permanent.load()) {
        WriteLog(kLogDebug0, "waking up thread %d for transfer %d\n", w->threadId.load(),
                 w->transferNumber);
        w->wake.Set();
        return;
    }
    if (!StartWorker(w)) {
        WriteLog(kLogMajor, "Error : thread for transfer %d not started", w->transferNumber);
        DropRecord(w);
        return;
    }
    WriteLog(kLogInfo, "Thread %d transfer %d started (records %p/%p)\n", w->threadId.load(),
             w->transferNumber, static_cast<void*>(m_listRecords.front().get()),
             static_cast<void*>(w));
    WriteLog(kLogInfo, "thread %d started", w->threadId.load());
}

void TftpRun::CreatePermanentWorkers() {
    for (int i = 1; i <= TftpConfig::kPermanentWorkers; ++i) {
        auto record = std::make_unique<TftpWorker>();
        record->permanent = 1;
        record->permanentIndex = i;
        TftpWorker* raw = record.get();
        m_listRecords.push_back(std::move(record));
        if (!StartWorker(raw)) {
            WriteLog(kLogMajor, "Error : permanent thread %d not started", i);
            m_listRecords.pop_back();
        }
    }
    PublishRecordCount();
}

void TftpRun::StopWorkers() {
    WriteLog(kLogInfo, "signalling worker threads\n");
    m_shared->workersEnd = true;
    for (auto& r : m_listRecords) {
        if (r->busy.load()) {
            CancelTftpTransfer(r->transfer);
        } else if (r->permanent.load()) {
            r->wake.Set();
        }
    }
    WriteLog(kLogInfo, "waiting for worker threads\n");
    // Bounded by the list: each pass removes its first record.
    while (!m_listRecords.empty()) {
        std::unique_ptr<TftpWorker> record = std::move(m_listRecords.front());
        m_listRecords.pop_front();
        const int threadId = record->threadId.load();
        record->permanent = 0;
        if (ReleaseRecord(std::move(record), kWorkerEndWaitMs)) {
            WriteLog(kLogDebug0, "tftp End of thread %d\n", threadId);
        }
    }
    PublishRecordCount();
}

int TftpRun::MainThread() {
    if (m_listRecords.empty()) {
        CreatePermanentWorkers();
    }
    // The socket is bound before the start call is released, so a client told to fetch a
    // file right after Start finds the port open. A failed bind still counts as started.
    platform::UdpSocket listen;
    bool listening = CreateTftpListeningSocket(m_szBindAddress, m_iPort, &listen);
    {
        std::lock_guard<std::mutex> lock(m_csStarted);
        m_bStarted = true;
    }
    m_cvStarted.notify_all();

    while (listening && m_shared->running.load()) {
        int ready = platform::WaitForAny({listen.Handle(), m_shared->wake.Handle()},
                                         TftpConfig::kMainWaitMs);
        if (!m_shared->running.load()) {
            break;
        }
        if (ready == 0) {
            AcceptRequest(listen);
        }
        // Looked at on every pass, not only when the socket is quiet: under a stream of
        // requests the socket is always ready first, and finished workers would then hold
        // their records (and the record limit) for as long as the stream lasts.
        if (ready >= 0 && m_shared->wake.Consume()) {
            RemoveFinishedRecords();
        }
        if (ready == -2) {
            WriteLog(kLogInfo, "WaitForMultipleObjects error %d\n", errno);
            WriteLog(kLogGeneral, "WaitForMultipleObjects error %d", errno);
            // A wait that keeps failing must not turn into a busy loop that floods the log.
            platform::SleepMs(kFailedWaitPauseMs);
        }
    }
    StopWorkers();
    listen.Close();
    WriteLog(kLogInfo, "main TFTP thread ends here\n");
    return 0;
}

}  // namespace orvane
