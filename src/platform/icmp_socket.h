#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvane::platform {

// A raw IPv4 ICMP socket that closes itself. It receives every ICMP datagram that reaches
// the host (IPv4 header included) and sends ICMP messages built by the caller. Needs root
// or CAP_NET_RAW. Every call returns false / -1 on failure and leaves the errno in
// LastError() (ClassifySocketError tells access denied apart).
class IcmpSocket {
  public:
    IcmpSocket() = default;
    ~IcmpSocket();
    IcmpSocket(const IcmpSocket&) = delete;
    IcmpSocket& operator=(const IcmpSocket&) = delete;

    bool Open();
    bool IsOpen() const { return m_iFd >= 0; }
    void Close();

    // Sends an ICMP message (no IPv4 header) to `addr` (host byte order); bytes sent or -1.
    long SendTo(const void* buf, size_t len, uint32_t addr);
    // 1 readable, 0 timed out, -1 failed.
    int WaitReadable(int timeoutMs);
    // Bytes of one datagram (IPv4 header first), or -1.
    long Receive(void* buf, size_t len);

    int LastError() const { return m_iLastError; }

  private:
    int m_iFd = -1;
    int m_iLastError = 0;
    // Windows has no raw socket for a program without the right to one: its echo call sends one
    // echo and waits for that echo's own answer. The echo given to SendTo is sent by the next
    // wait, and its answer is kept for Receive in the form a raw socket gives.
    [[maybe_unused]] uint32_t m_uPendingAddr = 0;  // Windows only
    std::vector<uint8_t> m_vecPending;
    std::vector<uint8_t> m_vecAnswer;
};

}  // namespace orvane::platform
