#pragma once

#include <array>
#include <atomic>
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

// Any IPv4 or IPv6 socket address, held as the system's 128-byte address storage so two
// addresses can be compared byte for byte.
struct SocketAddress {
    alignas(16) std::array<uint8_t, 128> storage{};
    uint32_t length = 0;

    bool IsIPv6() const;
    bool IsIPv4() const;
    // An IPv6 address of the form ::ffff:a.b.c.d.
    bool IsV4Mapped() const;
    // The plain IPv4 address (same port) of a mapped address; any other address unchanged.
    SocketAddress Unmapped() const;
    uint16_t Port() const;
    // Numeric host and port texts; "unknown" when the address cannot be converted.
    std::string NumericHost() const;
    std::string NumericPort() const;
    bool operator==(const SocketAddress& o) const { return storage == o.storage; }
    // The same host, whatever the ports (a mapped IPv4 address is its plain one).
    bool SameHost(const SocketAddress& o) const;

    static SocketAddress FromEndpoint(const Endpoint& ep);
};

// Result of resolving a local datagram address: 0 and the first address found, or the
// resolver's code. `hostNotFound` tells the "no such host" case apart from other failures.
struct ResolveResult {
    int iError = 0;
    bool bHostNotFound = false;
    std::string szText;
    SocketAddress address;
};

// Resolves `host` (null for every local address) and `service` (a name such as "tftp" or a
// decimal port) for a passive datagram socket of either family.
ResolveResult ResolvePassive(const char* host, const char* service);

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
    // Opens a datagram socket of the address's family (IPv4 or IPv6).
    bool OpenLike(const SocketAddress& address);
    bool IsOpen() const { return m_iFd >= 0; }
    void Close();

    bool SetNonBlocking(bool on);
    // Keeps the port to this socket alone: address reuse stays off (see the source for why),
    // so a second socket's bind on the same port fails. False only when the option cannot be
    // set.
    bool SetReuseAddress();
    // Lets other sockets bind the same port: only for receivers of broadcasts, which each get
    // their own copy (unicast to a shared port reaches just one of them).
    bool SetSharedBroadcastPort();
    bool SetBroadcast();
    bool SetReceiveBuffer(int bytes);
    bool SetSendBuffer(int bytes);
    // Lets an IPv6 socket also carry IPv4 traffic (mapped addresses) when `only` is false.
    bool SetIPv6Only(bool only);
    bool Bind(const Endpoint& local);
    bool Bind(const SocketAddress& local);
    // Binds to a port the system chooses, on every address of the socket's family.
    bool BindAnyPort();
    bool Connect(const Endpoint& peer);
    bool Connect(const SocketAddress& peer);
    bool LocalEndpoint(Endpoint* out) const;
    bool LocalAddress(SocketAddress* out) const;
    // Ends both directions of a connected socket: a thread blocked in a wait or a receive on it
    // returns at once.
    void Shutdown();

    // 1 readable, 0 timed out, -1 failed.
    int WaitReadable(int timeoutMs) const;
    // Bytes received, or -1. `from` may be null.
    long ReceiveFrom(void* buf, size_t len, Endpoint* from);
    long ReceiveFromAddress(void* buf, size_t len, SocketAddress* from);
    // Receives on a connected socket; 0 also after Shutdown.
    long Receive(void* buf, size_t len);
    // Receives, waiting at most timeoutMs (one system call: the limit is kept on the socket and
    // changed only when it differs from the last one). Bytes, kTimedOut, or -1.
    static constexpr long kTimedOut = -2;
    long ReceiveWithin(void* buf, size_t len, int timeoutMs);
    long SendTo(const void* buf, size_t len, const Endpoint& to);
    long SendToAddress(const void* buf, size_t len, const SocketAddress& to);
    long Send(const void* buf, size_t len);

    int LastError() const { return m_iLastError.load(); }
    int Handle() const { return m_iFd; }

  private:
    int Fail();
    bool Check(int rc);

    int m_iFd = -1;
    int m_iFamily = 0;
    int m_iReceiveTimeoutMs = -1;  // the limit set on the socket, -1 none
    // Atomic: a connected socket may be sent on by a second thread (a cancel) while its
    // owner receives.
    std::atomic<int> m_iLastError{0};
};

}  // namespace orvane::platform
