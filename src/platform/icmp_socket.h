#pragma once

#include <cstddef>
#include <cstdint>

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
};

}  // namespace orvane::platform
