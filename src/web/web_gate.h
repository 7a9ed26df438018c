#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/readiness_set.h"
#include "platform/tcp_socket.h"
#include "platform/wake_event.h"

namespace orvane {

// Limits the gate holds every connection to, whatever it sends.
struct GateLimits {
    size_t uMaxHead = 16 * 1024;  // request line and headers together
    int iHeadMs = 10000;          // for all of them, from the connection's accept
    int iPerAddress = 16;         // connections of one client address, waiting or served
    int iMaxWaiting = 256;        // connections still sending their head
};

// A connection whose whole head has arrived, handed to a worker.
struct HeldRequest {
    platform::TcpConnection conn;
    std::string szHead;       // the request line, the headers and whatever came after them
    int64_t iDeadlineMs = 0;  // the end of the time its request may take to arrive
    std::string szPeerHost;
};

// Accepts the web view's connections and reads each request's head on one thread, all of them
// at once: a worker gets a connection only once its head is whole, so a client that sends a
// byte now and then, or headers without end, holds no worker and no more than uMaxHead of
// memory, for iHeadMs at most. httplib's own accept loop hands every connection to a worker
// at once and bounds only each read's wait, which is what lets such clients take them all.
class WebGate {
  public:
    // Takes a request for a worker (moving it out); false, leaving it, when none can take it
    // now (the client then gets 503).
    using Handoff = std::function<bool(std::unique_ptr<HeldRequest>&)>;

    explicit WebGate(GateLimits limits = {});
    ~WebGate();
    WebGate(const WebGate&) = delete;
    WebGate& operator=(const WebGate&) = delete;

    bool Listen(const std::string& host, int port, std::string* error);
    int Port() const { return m_listener.Port(); }
    int Handle() const { return m_listener.Handle(); }
    void Start(Handoff handoff);
    // Ends the gate's thread and closes the connections still sending their heads.
    void Stop();
    // A worker is done with a request it was handed (its address may send another).
    void Release(const std::string& peerHost);

  private:
    struct Waiting {
        platform::TcpConnection conn;
        std::string head;
        int64_t deadlineMs = 0;
        std::string host;
    };

    void Run();
    void AcceptWaiting();
    void ReadHead(uint64_t key);
    void Drop(uint64_t key, const char* reply);
    void ExpireHeads();
    int NextWaitMs() const;

    const GateLimits m_limits;
    platform::TcpListener m_listener;
    platform::ReadinessSet m_set;
    platform::WakeEvent m_wake;
    Handoff m_handoff;
    std::atomic<bool> m_bStop{false};
    std::map<uint64_t, Waiting> m_mapWaiting;  // the gate thread's alone
    uint64_t m_uNextKey = 2;
    std::mutex m_csCounts;
    std::map<std::string, int> m_mapPerAddress;  // guarded by m_csCounts
    std::thread m_thread;
};

}  // namespace orvane
