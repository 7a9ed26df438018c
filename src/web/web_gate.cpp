#include "web/web_gate.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/clock.h"
#include "support/log.h"

namespace orvane {

namespace {

constexpr uint64_t kListenKey = 0;
constexpr uint64_t kWakeKey = 1;
constexpr int kMaxWaitMs = 1000;
constexpr int kAcceptsPerRound = 64;
constexpr size_t kReadChunk = 4096;

constexpr const char* kTooLarge =
    "HTTP/1.1 431 Request Header Fields Too Large\r\nConnection: close\r\nContent-Length: "
    "0\r\n\r\n";
constexpr const char* kTooSlow =
    "HTTP/1.1 408 Request Timeout\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
constexpr const char* kBusy =
    "HTTP/1.1 503 Service Unavailable\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";

LogRateLimit g_refusedLines;

// Whether the head ends within `head`, searched from `from` (the bytes before were searched).
bool HeadEnds(const std::string& head, size_t from) {
    const size_t start = from > 3 ? from - 3 : 0;
    return head.find("\r\n\r\n", start) != std::string::npos ||
           head.find("\n\n", start) != std::string::npos;
}

}  // namespace

WebGate::WebGate(GateLimits limits) : m_limits(limits) {}

WebGate::~WebGate() {
    Stop();
}

bool WebGate::Listen(const std::string& host, int port, std::string* error) {
    if (!m_listener.Listen(host, port, error)) {
        return false;
    }
    if (!m_set.IsValid() || !m_wake.IsValid() || !m_set.Add(m_listener.Handle(), kListenKey) ||
        !m_set.Add(m_wake.Handle(), kWakeKey)) {
        *error = "cannot wait for connections";
        return false;
    }
    return true;
}

void WebGate::Start(Handoff handoff) {
    m_handoff = std::move(handoff);
    m_thread = std::thread([this] {
        try {
            Run();
        } catch (const std::exception& e) {
            WriteLog(kLogMajor, "WebView gate ended: %s", e.what());
        }
    });
}

void WebGate::Stop() {
    if (m_thread.joinable()) {
        m_bStop = true;
        m_wake.Set();
        m_thread.join();
    }
}

void WebGate::Release(const std::string& peerHost) {
    std::lock_guard<std::mutex> lock(m_csCounts);
    auto it = m_mapPerAddress.find(peerHost);
    if (it != m_mapPerAddress.end() && --it->second <= 0) {
        m_mapPerAddress.erase(it);
    }
}

void WebGate::Run() {
    std::vector<uint64_t> ready;
    while (!m_bStop.load()) {
        ready.clear();
        m_set.Wait(NextWaitMs(), &ready);
        for (uint64_t key : ready) {
            if (key == kListenKey) {
                AcceptWaiting();
            } else if (key == kWakeKey) {
                m_wake.Consume();
            } else {
                ReadHead(key);
            }
        }
        ExpireHeads();
    }
    while (!m_mapWaiting.empty()) {
        Drop(m_mapWaiting.begin()->first, nullptr);
    }
}

int WebGate::NextWaitMs() const {
    const int64_t now = platform::MonotonicMs();
    int64_t wait = kMaxWaitMs;
    for (const auto& w : m_mapWaiting) {
        wait = std::min(wait, std::max<int64_t>(0, w.second.deadlineMs - now));
    }
    return static_cast<int>(wait);
}

void WebGate::AcceptWaiting() {
    for (int i = 0; i < kAcceptsPerRound; ++i) {
        Waiting w;
        if (!m_listener.Accept(&w.conn)) {
            return;
        }
        w.host = w.conn.Peer().Unmapped().NumericHost();
        {
            std::lock_guard<std::mutex> lock(m_csCounts);
            int& count = m_mapPerAddress[w.host];
            if (count >= m_limits.iPerAddress) {
                WriteLogLimited(g_refusedLines, kLogGeneral,
                                "WebView: %s holds %d connections already, one more refused",
                                w.host.c_str(), count);
                continue;  // closed as it goes
            }
            ++count;
        }
        // Full of clients that have not finished their heads: the one nearest its end goes,
        // so a new client always finds room.
        if (static_cast<int>(m_mapWaiting.size()) >= m_limits.iMaxWaiting) {
            auto oldest = std::min_element(m_mapWaiting.begin(), m_mapWaiting.end(),
                                           [](const auto& a, const auto& b) {
                                               return a.second.deadlineMs < b.second.deadlineMs;
                                           });
            Drop(oldest->first, kTooSlow);
        }
        w.deadlineMs = platform::MonotonicMs() + m_limits.iHeadMs;
        const uint64_t key = m_uNextKey++;
        if (!m_set.Add(w.conn.Handle(), key)) {
            Release(w.host);
            continue;
        }
        m_mapWaiting.emplace(key, std::move(w));
    }
}

void WebGate::ReadHead(uint64_t key) {
    auto it = m_mapWaiting.find(key);
    if (it == m_mapWaiting.end()) {
        return;
    }
    Waiting& w = it->second;
    const size_t before = w.head.size();
    const size_t room = m_limits.uMaxHead - before;
    w.head.resize(before + std::min(room, kReadChunk));
    const long n = w.conn.Receive(&w.head[before], w.head.size() - before);
    w.head.resize(before + static_cast<size_t>(std::max(0L, n)));
    if (n == platform::TcpConnection::kWouldBlock) {
        return;
    }
    if (n <= 0) {
        Drop(key, nullptr);  // closed, or failed
        return;
    }
    if (HeadEnds(w.head, before)) {
        m_set.Remove(w.conn.Handle());
        auto held = std::make_unique<HeldRequest>();
        held->conn = std::move(w.conn);
        held->szHead = std::move(w.head);
        held->iDeadlineMs = w.deadlineMs;
        held->szPeerHost = w.host;
        m_mapWaiting.erase(it);
        if (!m_handoff(held)) {
            held->conn.Send(kBusy, std::strlen(kBusy));
            Release(held->szPeerHost);
        }
        return;
    }
    if (w.head.size() >= m_limits.uMaxHead) {
        Drop(key, kTooLarge);
    }
}

void WebGate::Drop(uint64_t key, const char* reply) {
    auto it = m_mapWaiting.find(key);
    if (it == m_mapWaiting.end()) {
        return;
    }
    Waiting& w = it->second;
    m_set.Remove(w.conn.Handle());
    if (reply) {
        w.conn.Send(reply, std::strlen(reply));  // what the socket takes now, no more
    }
    Release(w.host);
    m_mapWaiting.erase(it);
}

void WebGate::ExpireHeads() {
    const int64_t now = platform::MonotonicMs();
    std::vector<uint64_t> late;
    for (const auto& w : m_mapWaiting) {
        if (w.second.deadlineMs <= now) {
            late.push_back(w.first);
        }
    }
    for (uint64_t key : late) {
        Drop(key, kTooSlow);
    }
}

}  // namespace orvane
