#include "tftp/tftp_transfer_record.h"

#include <utility>

#include "support/log.h"

namespace orvane {

void TftpTransfer::Reset(std::shared_ptr<const TftpSettings> serviceSettings, int timeout,
                         int64_t now) {
    settings = std::move(serviceSettings);
    timeoutSeconds = timeout;
    answered = false;
    blockSize = kTftpSegment;
    windowSize = 1;
    file.Close();
    upload.Discard();
    opcode = 0;
    fileName.clear();
    awaitedBlock = blockCount = nextBlock = lastBlockLength = 0;
    timeouts = unacked = 0;
    scheduleDeadlineMs = 0;
    resendsOfPacket = 0;
    adaptiveWaits = true;
    rtt = TftpRetransmitTimer();
    mode = kTftpModeOctet;
    fileSize = 0;
    oackLength = 0;
    bytes = 0;
    resent = 0;
    result = kTftpResultRunning;
    startTime = now;
    connected = false;
    control.fill(0);
    cancelled = false;
}

// Under the record's send lock, so a cancel from the main thread is never interleaved with a
// packet of the worker and nothing follows the cancel.
long TftpTransfer::Send(const uint8_t* buf, size_t len) {
    std::lock_guard<std::mutex> lock(csSend);
    if (cancelled.load() || !socket.IsOpen()) {
        return -1;
    }
    return socket.Send(buf, len);
}

void TftpTransfer::LogSystemCall(int err, const char* call) const {
    WriteLog(kLogMajor, "File <%s> : error %d in system call %s %s", fileName.c_str(), err, call,
             platform::SystemErrorText(err).c_str());
}

}  // namespace orvane
