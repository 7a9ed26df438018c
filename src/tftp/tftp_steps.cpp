// The steps every loop of a transfer takes: packets built and sent, the next packet awaited,
// a block read and sent, an acknowledgement read, the closing line.
#include "tftp/tftp_steps.h"

#include <algorithm>
#include <string>

#include "platform/clock.h"
#include "support/log.h"
#include "tftp/tftp_counters.h"
#include "tftp/tftp_waits.h"

namespace orvane {

void PutTftpShort(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>((value >> 8) & 0xFF);
    p[1] = static_cast<uint8_t>(value & 0xFF);
}

uint16_t GetTftpShort(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

bool FailTftp(TftpTransfer& t, int code) {
    SendTftpError(t, code);
    return false;
}

long AwaitTftpPacket(TftpTransfer& t, uint8_t* buf, size_t len, int64_t waitMs) {
    // A receive time-out of 0 would mean no time-out at all.
    long n = t.socket.ReceiveWithin(buf, len, static_cast<int>(std::max<int64_t>(waitMs, 1)));
    if (n == -1 && !t.cancelled.load()) {
        t.LogSystemCall(t.socket.LastError(), "recv");
        FailTftp(t, kTftpErrUndefined);
    }
    return n;
}

long AwaitTftpAck(TftpTransfer& t, uint8_t* buf, size_t len) {
    bool scheduleTimeout = false;
    const int64_t deadline = ResendDeadlineMs(t, t.awaitedBlock == 0, &scheduleTimeout);
    const long n = AwaitTftpPacket(t, buf, len, deadline - platform::MonotonicMs());
    if (t.cancelled.load() || n == -1) {
        return -1;
    }
    if (n == platform::UdpSocket::kTimedOut) {
        WriteLog(kLogSuggestive, "timeout while waiting for ack blk #%d",
                 static_cast<int>(t.awaitedBlock));
        NoteTimeout(t, scheduleTimeout);
    }
    return n;
}

void WriteTftpReport(const TftpTransfer& t, uint32_t blocks) {
    const int64_t seconds = platform::WallClockSeconds() - t.startTime;
    WriteLog(kLogDebug0, "<%s>: %s %d blk%s, %lld bytes in %d s. %d blk%s resent",
             t.fileName.c_str(), t.opcode == kTftpRrq ? "sent" : "rcvd", static_cast<int>(blocks),
             blocks > 1 ? "s" : "", static_cast<long long>(t.bytes), static_cast<int>(seconds),
             static_cast<int>(t.resent), t.resent > 1 ? "s" : "");
}

void SendTftpError(TftpTransfer& t, int code) {
    // Built in a buffer of its own: the data buffer may still hold a block to resend.
    uint8_t packet[64];
    size_t len = BuildTftpError(packet, sizeof packet, code);
    t.Send(packet, len);
}

bool SendTftpOack(TftpTransfer& t) {
    const size_t len = t.oackLength + 2;
    WriteLog(kLogDebug0, "send OACK %d bytes", static_cast<int>(len));
    long sent = t.Send(t.control.data(), len);
    if (sent != static_cast<long>(len)) {
        WriteLog(kLogMajor, "send : Error %d", t.socket.LastError());
        return false;
    }
    return true;
}

bool SendTftpBlock(TftpTransfer& t) {
    const int64_t offset = static_cast<int64_t>(t.nextBlock - 1) * t.blockSize;
    long n = t.file.ReadAt(offset, t.data.data() + 4, t.blockSize);
    if (n < 0) {
        t.LogSystemCall(t.file.LastError(), "ReadFile");
        return FailTftp(t, kTftpErrUndefined);
    }
    PutTftpShort(t.data.data(), kTftpData);
    PutTftpShort(t.data.data() + 2, t.nextBlock);
    const size_t len = 4 + static_cast<size_t>(n);
    if (t.Send(t.data.data(), len) != static_cast<long>(len)) {
        if (t.cancelled.load()) {
            return false;
        }
        t.LogSystemCall(t.socket.LastError(), "send");
        return FailTftp(t, kTftpErrUndefined);
    }
    GetTftpCounters().bytesSent += static_cast<uint64_t>(n);
    t.lastBlockLength = static_cast<uint32_t>(n);
    ++t.unacked;
    ++t.nextBlock;
    return true;
}

TftpAckKind ReadTftpAck(const uint8_t* pkt, long n, uint16_t* block) {
    if (n < 4) {
        WriteLog(kLogGeneral, "rcvd packet too short");
        return TftpAckKind::kIgnore;
    }
    const uint16_t op = GetTftpShort(pkt);
    if (op == kTftpError) {
        std::string text(reinterpret_cast<const char*>(pkt) + 4, static_cast<size_t>(n - 4));
        text = text.c_str();  // up to its NUL, if any
        WriteLog(kLogGeneral, "Peer returns ERROR <%s> -> aborting transfer", text.c_str());
        return TftpAckKind::kPeerError;
    }
    if (op != kTftpAck) {
        WriteLog(kLogSuggestive, "ignore unknown opcode %d received", op);
        return TftpAckKind::kIgnore;
    }
    *block = GetTftpShort(pkt + 2);
    return TftpAckKind::kAck;
}

}  // namespace orvane
