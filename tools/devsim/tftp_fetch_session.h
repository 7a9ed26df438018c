#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/udp_socket.h"
#include "tools/devsim/tftp_fetch.h"

namespace orvane::devsim {

// One transfer as a state machine that never waits: the fetch loop tells it when its socket
// is readable and when its time has come, so one thread can drive a thousand of them. The
// server's transfer port (TID) is learned from its first answer; the deadline of a packet is
// fixed when it is sent, so packets that do not advance the transfer never postpone the next
// resend (a server that keeps sending them cannot hold us forever). Times are steady-clock
// microseconds.
class FetchSession {
  public:
    FetchSession(const platform::Endpoint& server, const TftpFetchOptions& options,
                 const TftpSink& sink);
    FetchSession(const FetchSession&) = delete;
    FetchSession& operator=(const FetchSession&) = delete;

    // Each step returns false once the transfer has ended (Result() tells how).
    // Opens the socket and sends the request.
    bool Begin(const std::string& name, int64_t nowUs);
    // Takes one datagram from the socket.
    bool OnReadable(int64_t nowUs);
    // Does what is due by nowUs: the delayed ACK, a resend, or giving up.
    bool OnTime(int64_t nowUs);
    // When OnTime has something to do next.
    int64_t NextDueUs() const { return m_bAckPending ? m_iAckDueUs : m_iDeadlineUs; }
    int Handle() const { return m_socket.Handle(); }
    const TftpFetchResult& Result() const { return m_result; }
    // The loop ends a transfer whose step threw.
    void Abandon(const std::string& why) { Fail(why); }

  private:
    // The transfer's socket, bound to uSourceAddr when one is given.
    bool OpenSocket();
    void Send(const std::string& packet, const platform::Endpoint& to);
    void SendNew(const std::string& packet, int64_t nowUs);
    bool Fail(const std::string& why);
    bool Finish();
    bool HandlePacket(const char* p, size_t n, const platform::Endpoint& from, int64_t nowUs);
    bool HandleOack(const char* p, size_t n, int64_t nowUs);
    bool HandleData(uint16_t block, const char* data, size_t len, int64_t nowUs);

    platform::Endpoint m_server;
    const TftpFetchOptions& m_options;
    const TftpSink& m_sink;
    platform::UdpSocket m_socket;
    std::vector<char> m_vecBuffer;
    TftpFetchResult m_result;
    bool m_bOptionsAsked = false;
    bool m_bHaveTid = false;
    bool m_bGotOack = false;
    platform::Endpoint m_tid;
    std::string m_szLast;  // the packet resent after a silence
    platform::Endpoint m_lastTo;
    int m_iSends = 0;  // sends of m_szLast
    int64_t m_iDeadlineUs = 0;
    uint16_t m_uExpected = 1;
    unsigned m_uTaken = 0;     // blocks taken in order since our last ACK
    bool m_bGapAcked = false;  // the last block before a gap is acknowledged already
    TftpNegotiated m_negotiated;
    // An ACK held back while the device "writes flash" (iAckDelayMs).
    bool m_bAckPending = false;
    bool m_bLastPending = false;  // it acknowledges the last block
    int64_t m_iAckDueUs = 0;
    std::string m_szPendingAck;
};

}  // namespace orvane::devsim
