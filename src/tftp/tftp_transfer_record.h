#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/file.h"
#include "platform/udp_socket.h"
#include "tftp/tftp_request.h"
#include "tftp/tftp_retransmit_timer.h"
#include "tftp/tftp_settings.h"

namespace orvane {

// Transfer result stored by the worker.
constexpr int kTftpResultRunning = 0;
constexpr int kTftpResultSuccess = 1;
constexpr int kTftpResultFailure = 3;

// One transfer's state: its socket and what serialises the sends on it, its file, and what the
// decoding's steps and the loops change. Its worker (TftpWorker) owns it; the main thread only
// readies it for a request while the worker is idle, and cancels it (under csSend).
struct TftpTransfer {
    // Sends on the transfer socket, its closing and the administrator's cancel are serialised
    // by this lock, so a cancel never interleaves with a packet of the worker and never goes to
    // a socket that was closed (or whose descriptor was reused) meanwhile.
    std::mutex csSend;
    platform::UdpSocket socket;
    std::atomic<bool> cancelled{false};  // set under csSend; nothing more is sent once set
    // Under csSend: the socket is connected to the client, so a cancel can reach it. A cancel
    // that comes earlier is kept in `cancelled` and delivered once the transfer begins.
    bool connected = false;

    platform::DataFile file;           // what a read request serves
    platform::ReplacementFile upload;  // what a write request fills; in place only when complete

    // Set by the main thread before the worker is released.
    std::shared_ptr<const TftpSettings> settings;  // the service's, as the request arrived
    platform::SocketAddress peer;
    int64_t startTime = 0;  // wall-clock seconds

    // Protocol state (decoding and the loops).
    int opcode = 0;
    std::string fileName;       // as requested, after separator normalisation
    uint32_t awaitedBlock = 0;  // read: block whose ACK is awaited; write: last block written
    uint32_t blockCount = 0;
    uint32_t nextBlock = 0;
    uint32_t lastBlockLength = 0;
    int timeouts = 0;  // of the time-out schedule, for the packet outstanding; six end it
    // The packet outstanding (DATA, OACK, or a write's ACK): when the schedule's next
    // time-out falls (monotonic ms; when it was last sent is rtt.SentMs()), and how often it
    // was sent again.
    int64_t scheduleDeadlineMs = 0;
    uint32_t resendsOfPacket = 0;
    // The client asked no `timeout`: resends follow its measured round trip within the
    // schedule. A client that asked one gets exactly the schedule's waits.
    bool adaptiveWaits = true;
    TftpRetransmitTimer rtt;
    int unacked = 0;
    uint32_t blockSize = kTftpSegment;
    uint32_t windowSize = 1;  // blocks sent before an acknowledgement is awaited (RFC 7440)
    int timeoutSeconds = 5;   // as negotiated; see `answered`
    // The client has acknowledged (or, uploading, sent) its first block: until then a time-out
    // longer than the service's own is not in force.
    bool answered = false;
    int mode = kTftpModeOctet;
    uint32_t fileSize = 0;
    std::array<uint8_t, kTftpDataBuffer> data{};
    std::array<uint8_t, kTftpPacketSize> control{};
    size_t oackLength = 0;  // option bytes of the OACK in `control`, behind its opcode

    // Statistics and result.
    int64_t bytes = 0;
    uint32_t resent = 0;
    int result = kTftpResultRunning;

    // Readies the record for a new request (main thread, while the worker is idle).
    void Reset(std::shared_ptr<const TftpSettings> serviceSettings, int timeout, int64_t now);

    // Every packet of the transfer leaves through here; the length sent, -1 when cancelled or
    // the socket is closed.
    long Send(const uint8_t* buf, size_t len);
    // Logs a failed system call of this transfer with its error's text.
    void LogSystemCall(int err, const char* call) const;
};

}  // namespace orvane
