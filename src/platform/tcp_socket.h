#pragma once

#include <cstddef>
#include <string>

#include "platform/udp_socket.h"

namespace orvane::platform {

// An accepted TCP connection that closes itself; never blocks (waits take a limit).
class TcpConnection {
  public:
    TcpConnection() = default;
    ~TcpConnection();
    TcpConnection(TcpConnection&& other) noexcept;
    TcpConnection& operator=(TcpConnection&& other) noexcept;
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    bool IsOpen() const { return m_iFd >= 0; }
    void Close();
    // Bytes received; 0 when the peer has closed; kWouldBlock when nothing is there yet; -1 on
    // failure.
    static constexpr long kWouldBlock = -2;
    long Receive(void* buf, size_t len);
    // Sends what the socket takes now: bytes sent, kWouldBlock, or -1.
    long Send(const void* buf, size_t len);
    // 1 ready, 0 timed out, -1 failed.
    int WaitReadable(int timeoutMs) const;
    int WaitWritable(int timeoutMs) const;
    const SocketAddress& Peer() const { return m_peer; }
    const SocketAddress& Local() const { return m_local; }
    int Handle() const { return m_iFd; }

  private:
    friend class TcpListener;
    int m_iFd = -1;
    SocketAddress m_peer;
    SocketAddress m_local;
};

// A listening TCP socket (IPv4 or IPv6, by the address it is given).
class TcpListener {
  public:
    TcpListener() = default;
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    // Resolves `host`, binds host:port (0: a free port) and listens. False with the system's
    // text in `error`.
    bool Listen(const std::string& host, int port, std::string* error);
    int Port() const;
    // Takes one waiting connection without blocking; false when none waits (or on failure).
    bool Accept(TcpConnection* out);
    void Close();
    int Handle() const { return m_iFd; }

  private:
    int m_iFd = -1;
};

}  // namespace orvane::platform
