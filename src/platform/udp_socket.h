#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvane::platform {

// An IPv4 address and port, both in host byte order.
struct Endpoint {
    uint32_t addr = 0;
    uint16_t port = 0;

    // Parses a dotted quad ("" and "0.0.0.0" give the wildcard). False on any other text.
    static bool Parse(const std::string& ip, uint16_t port, Endpoint* out);
    std::string Address() const;  // dotted quad
    bool operator==(const Endpoint& o) const { return addr == o.addr && port == o.port; }
};

// What a socket error means to callers that branch on it; the raw errno is kept beside it
// for the log.
enum class SocketErrorKind {
    kNone,
    kAccessDenied,
    kAddressInUse,
    kAddressNotAvailable,
    kInvalid,
    kWouldBlock,
    kOther
};

SocketErrorKind ClassifySocketError(int err);
std::string SocketErrorText(int err);

// An IPv4 UDP socket that closes itself. Every call returns false / -1 on failure and leaves
// the errno in LastError().
class UdpSocket {
  public:
    UdpSocket() = default;
    ~UdpSocket();
    UdpSocket(UdpSocket&& other) noexcept;
    UdpSocket& operator=(UdpSocket&& other) noexcept;
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    bool Open();
    bool IsOpen() const { return m_iFd >= 0; }
    void Close();

    bool SetNonBlocking(bool on);
    bool SetReuseAddress();
    bool SetBroadcast();
    bool SetReceiveBuffer(int bytes);
    bool SetSendBuffer(int bytes);
    bool Bind(const Endpoint& local);
    bool Connect(const Endpoint& peer);
    bool LocalEndpoint(Endpoint* out) const;

    // 1 readable, 0 timed out, -1 failed.
    int WaitReadable(int timeoutMs) const;
    // Bytes received, or -1. `from` may be null.
    long ReceiveFrom(void* buf, size_t len, Endpoint* from);
    long SendTo(const void* buf, size_t len, const Endpoint& to);
    long Send(const void* buf, size_t len);

    int LastError() const { return m_iLastError; }
    int Handle() const { return m_iFd; }

  private:
    int Fail();
    bool Check(int rc);

    int m_iFd = -1;
    int m_iLastError = 0;
};

}  // namespace orvane::platform
