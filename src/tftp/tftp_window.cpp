// The windowed send loop. Per window it costs one wake-up: the blocks are read and sent one
// after the other, then the single acknowledgement of the window is awaited.
#include "tftp/tftp_window.h"

#include <algorithm>

#include "platform/clock.h"
#include "support/log.h"
#include "tftp/tftp_steps.h"
#include "tftp/tftp_waits.h"

namespace orvane {

namespace {

// Where a read transfer stands. t.awaitedBlock is the first block not acknowledged (0 while
// the OACK's acknowledgement is awaited), t.nextBlock the next one to send.
struct WindowState {
    uint32_t highestSent = 0;  // blocks up to here were sent at least once
    uint32_t resentBlocks = 0;
    bool windowDue = false;  // a window begins at t.nextBlock
    bool resend = false;     // and it holds blocks sent before (no round-trip sample)
};

// Sends t.nextBlock up to the window's last block (the file's last at most); the round trip
// of the window is measured from its last send, which its acknowledgement answers.
bool SendWindow(TftpTransfer& t, WindowState& w) {
    const uint32_t last = std::min(t.awaitedBlock - 1 + t.windowSize, t.blockCount);
    while (t.nextBlock <= last) {
        if (t.nextBlock <= w.highestSent) {
            ++w.resentBlocks;
        }
        if (!SendTftpBlock(t)) {
            return false;
        }
    }
    w.highestSent = std::max(w.highestSent, t.nextBlock - 1);
    NoteSent(t, w.resend);
    w.windowDue = false;
    w.resend = false;
    return true;
}

// The window begins again at t.awaitedBlock: after a time-out, or after an acknowledgement
// that tells of a loss (the client answered: the schedule starts afresh then).
void RestartWindow(TftpTransfer& t, WindowState& w, bool freshSchedule) {
    t.nextBlock = t.awaitedBlock;
    if (freshSchedule) {
        t.scheduleDeadlineMs = 0;
    }
    w.windowDue = true;
    w.resend = true;
}

// One acknowledgement of block `block` (16 bits, as on the wire).
void TakeWindowAck(TftpTransfer& t, WindowState& w, uint16_t block) {
    if (t.awaitedBlock == 0) {
        if (block == 0) {  // the OACK's acknowledgement: the first window
            NoteAnswered(t);
            t.awaitedBlock = t.nextBlock = 1;
            w.windowDue = true;
        }
        return;
    }
    const uint32_t inFlight = t.nextBlock - t.awaitedBlock;
    const uint16_t advance =
        static_cast<uint16_t>(block - static_cast<uint16_t>(t.awaitedBlock - 1));
    if (advance == 0) {
        // A repeat of the last acknowledgement. As in lock-step, only after a time-out, and only
        // when it left after our last copy would have reached the client: a repeat that crossed
        // that copy is ignored, so no loss is answered twice.
        if (t.resendsOfPacket > 0 &&
            platform::MonotonicMs() - t.rtt.SentMs() >= t.rtt.EstimateMs()) {
            ++t.resendsOfPacket;
            RestartWindow(t, w, false);
        }
        return;
    }
    if (advance > inFlight) {
        // Above what was sent is the client's fault; below is a late one, overtaken already.
        if (advance < 0x8000) {
            WriteLog(kLogGeneral, "Ack of block #%d received (last block sent #%d !)", block,
                     static_cast<int>(t.nextBlock - 1));
        }
        return;
    }
    t.awaitedBlock += advance;
    NoteAnswered(t);
    t.bytes = std::min<int64_t>(int64_t{t.awaitedBlock - 1} * t.blockSize, t.fileSize);
    if (t.awaitedBlock == t.nextBlock) {
        w.windowDue = true;  // the window's last block: the next window
    } else {
        RestartWindow(t, w, true);  // the blocks after it were lost
    }
}

bool Finish(TftpTransfer& t, const WindowState& w) {
    t.resent = w.resentBlocks;
    WriteLog(kLogDebug0, "Count %d, Last pkt %d ", static_cast<int>(t.awaitedBlock),
             static_cast<int>(t.nextBlock));
    WriteTftpReport(t, t.awaitedBlock - 1);
    return true;
}

}  // namespace

bool SendWindowLoop(TftpTransfer& t) {
    t.nextBlock = 1;
    t.bytes = 0;
    t.timeouts = 0;
    t.resendsOfPacket = 0;
    NoteSent(t, false);  // the OACK, just sent
    WindowState w;
    uint8_t pkt[kTftpPacketSize];
    while (t.timeouts < TftpConfig::kRetransmitLimit) {
        if (w.windowDue && !SendWindow(t, w)) {
            return false;
        }
        const long n = AwaitTftpAck(t, pkt, sizeof pkt);
        if (n == -1) {
            return false;
        }
        if (n == platform::UdpSocket::kTimedOut) {
            if (t.awaitedBlock == 0) {
                // The OACK or its acknowledgement was lost: the OACK is what is sent again.
                if (!SendTftpOack(t)) {
                    return false;
                }
                NoteSent(t, true);
            } else {
                RestartWindow(t, w, false);
            }
            continue;
        }
        uint16_t block = 0;
        const TftpAckKind kind = ReadTftpAck(pkt, n, &block);
        if (kind == TftpAckKind::kPeerError) {
            return false;
        }
        if (kind == TftpAckKind::kAck) {
            TakeWindowAck(t, w, block);
        }
        if (t.awaitedBlock > t.blockCount) {
            return Finish(t, w);
        }
    }
    // Only the last block's acknowledgement missing counts as delivered, as in lock-step; a
    // window whose earlier blocks were never acknowledged may not have arrived at all.
    if (t.awaitedBlock != 0 && t.awaitedBlock == t.blockCount && t.nextBlock > t.blockCount) {
        WriteLog(kLogGeneral, "WARNING : Last block #%d not acked for file <%s>",
                 static_cast<int>(t.awaitedBlock), t.fileName.c_str());
        return Finish(t, w);
    }
    WriteLog(kLogGeneral, "TIMEOUT waiting for Ack block #%d ", static_cast<int>(t.awaitedBlock));
    return FailTftp(t, kTftpErrUndefined);
}

}  // namespace orvane
