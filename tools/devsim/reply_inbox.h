#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/udp_socket.h"
#include "tools/devsim/server_reply.h"

namespace orvane::devsim {

using SteadyTime = std::chrono::steady_clock::time_point;

// A reply taken for a device: what it says and when it arrived.
struct DeviceReply {
    ServerReply reply;
    int iCseq = 0;  // the Cseq of the request it answers (the reply's value minus 1)
    SteadyTime tReceived;
};

// The one socket on which every simulated device hears the server's broadcast replies. Real
// devices each listen on the reply port of their own address; here all of them share one
// host, so one receiver reads the replies and hands each to the device whose MAC it names,
// provided its Cseq answers one of the requests that device has sent in its current round.
class ReplyInbox {
  public:
    // `macs` are the devices' MAC texts, by device index; they do not change afterwards.
    explicit ReplyInbox(const std::vector<std::string>& macs);
    ~ReplyInbox();
    ReplyInbox(const ReplyInbox&) = delete;
    ReplyInbox& operator=(const ReplyInbox&) = delete;

    // Binds 0.0.0.0:port, shared with other listeners of the port (each gets every broadcast), and
    // starts the receiver. False with the reason in `error`.
    bool Start(uint16_t port, std::string* error);
    void Stop();

    // Begins a new round for a device: earlier Cseqs and any reply not yet taken are dropped.
    void BeginRound(size_t device);
    // A request with this Cseq is about to be sent; its answer will be accepted.
    void Expect(size_t device, int cseq);
    // Waits until `deadline` for the round's first accepted reply. False on time-out.
    bool WaitReply(size_t device, SteadyTime deadline, DeviceReply* out);

    // Datagrams that answered no expected request (another device's round, a late answer to a
    // request already answered, anything that does not read as a reply).
    uint64_t StrayCount() const { return m_uStray.load(); }

  private:
    struct Slot {
        std::condition_variable cv;
        int iLowCseq = 0;
        int iHighCseq = -1;  // empty range: nothing expected
        bool bHave = false;
        bool bTaken = false;
        DeviceReply reply;
    };
    void Receive();
    void Deliver(const char* data, size_t len, SteadyTime when);

    std::unordered_map<std::string, size_t> m_mapByMac;  // fixed before Start
    std::vector<std::unique_ptr<Slot>> m_vecSlots;
    std::mutex m_csSlots;  // guards every Slot's fields
    platform::UdpSocket m_socket;
    std::atomic<bool> m_bStop{false};
    std::atomic<uint64_t> m_uStray{0};
    std::thread m_receiver;
};

}  // namespace orvane::devsim
