// The lock-step send and receive loops of a transfer whose request is decoded and whose file is
// open: one block, then its acknowledgement.
#include "tftp/tftp_lockstep.h"

#include <algorithm>

#include "platform/clock.h"
#include "support/log.h"
#include "tftp/tftp_steps.h"
#include "tftp/tftp_waits.h"

namespace orvane {

namespace {

constexpr int kMaxUnacked = 50;

bool SendAck(TftpTransfer& t, uint32_t block) {
    uint8_t ack[4];
    PutTftpShort(ack, kTftpAck);
    PutTftpShort(ack + 2, block);
    return t.Send(ack, sizeof ack) == static_cast<long>(sizeof ack);
}

// Handles one packet received while a read transfer awaits an acknowledgement; false when
// the transfer must end (the client gave up).
bool TakeAck(TftpTransfer& t, const uint8_t* pkt, long n) {
    uint16_t block = 0;
    const TftpAckKind kind = ReadTftpAck(pkt, n, &block);
    if (kind != TftpAckKind::kAck) {
        return kind == TftpAckKind::kIgnore;
    }
    const uint16_t awaited = static_cast<uint16_t>(t.awaitedBlock);
    if (block == awaited) {
        NoteAnswered(t);
        t.unacked = 0;
        if (t.awaitedBlock != 0) {
            t.bytes += t.lastBlockLength;
        }
        ++t.awaitedBlock;
        t.nextBlock = t.awaitedBlock;
    } else if (block == static_cast<uint16_t>(awaited - 1)) {
        if (t.unacked < 3 && t.awaitedBlock != 1) {
            WriteLog(kLogGeneral, "Ack block %d ignored (received twice)", block);
        }
        // After a time-out the client's own repeat may bring one more copy, but only when
        // it left after our last copy would have reached the client: a repeat that crossed
        // that copy is ignored, so no loss is answered twice. It speeds clients that asked
        // long waits and repeat sooner themselves.
        if (t.resendsOfPacket > 0 && t.awaitedBlock != 0 &&
            platform::MonotonicMs() - t.rtt.SentMs() >= t.rtt.EstimateMs()) {
            t.nextBlock = t.awaitedBlock;
            ++t.resendsOfPacket;
        }
    } else if (block > awaited) {
        WriteLog(kLogGeneral, "Ack of block #%d received (last block sent #%d !)", block,
                 static_cast<int>(t.awaitedBlock));
    }
    return true;
}

}  // namespace

bool SendFileLoop(TftpTransfer& t, bool oackSent) {
    t.nextBlock = t.awaitedBlock == 0 ? 1 : t.awaitedBlock;
    t.bytes = 0;
    t.unacked = 0;
    t.timeouts = 0;
    t.resendsOfPacket = 0;
    if (t.awaitedBlock == 0) {
        NoteSent(t, false);  // the OACK, just sent
    }
    uint8_t pkt[kTftpPacketSize];
    // A time-out resends; a repeated ACK alone never does (RFC 1123 4.2.3.1, see TakeAck).
    bool resendDue = false;
    while (t.timeouts < TftpConfig::kRetransmitLimit) {
        if (resendDue) {
            resendDue = false;
            if (t.awaitedBlock == 0) {
                // The OACK or its acknowledgement was lost: the OACK is what is resent, never a
                // block 0, which the file does not have.
                if (oackSent && !SendTftpOack(t)) {
                    return false;
                }
                NoteSent(t, true);
                ++t.unacked;
            } else {
                t.nextBlock = t.awaitedBlock;
            }
        }
        if (t.awaitedBlock != 0 && t.nextBlock <= t.awaitedBlock && t.nextBlock <= t.blockCount) {
            if (!SendTftpBlock(t)) {
                return false;
            }
            NoteSent(t, t.resendsOfPacket > 0);
        }
        // Measured from the last send, not from the last packet received: a client that
        // repeats its last ACK on its own clock while a DATA is lost would otherwise hold the
        // resend off for as long as it repeats, and give up first.
        const long n = AwaitTftpAck(t, pkt, sizeof pkt);
        if (n == -1) {
            return false;
        }
        if (n == platform::UdpSocket::kTimedOut) {
            resendDue = true;
        } else if (!TakeAck(t, pkt, n)) {
            return false;
        }
        if (t.nextBlock > t.blockCount && t.unacked == 0) {
            WriteLog(kLogDebug0, "Count %d, Last pkt %d ", static_cast<int>(t.awaitedBlock),
                     static_cast<int>(t.nextBlock));
            WriteTftpReport(t, t.awaitedBlock - 1);
            return true;
        }
        if (t.unacked >= kMaxUnacked) {
            WriteLog(kLogMajor, "MAX RETRIES while waiting for Ack block %d. file <%s>",
                     static_cast<int>(t.awaitedBlock), t.fileName.c_str());
            return FailTftp(t, kTftpErrUndefined);
        }
    }
    if (t.awaitedBlock != 0 && t.nextBlock > t.blockCount) {
        WriteLog(kLogGeneral, "WARNING : Last block #%d not acked for file <%s>",
                 static_cast<int>(t.awaitedBlock), t.fileName.c_str());
        t.resent += t.resendsOfPacket;
        WriteLog(kLogDebug0, "Count %d, Last pkt %d ", static_cast<int>(t.awaitedBlock),
                 static_cast<int>(t.nextBlock));
        WriteTftpReport(t, t.awaitedBlock - 1);
        return true;
    }
    WriteLog(kLogGeneral, "TIMEOUT waiting for Ack block #%d ", static_cast<int>(t.awaitedBlock));
    return FailTftp(t, kTftpErrUndefined);
}

namespace {

// Outcome of one DATA packet of a write transfer.
enum class DataStep { kAcknowledge, kIgnore, kFailed };

// When a write transfer acknowledges (RFC 7440 on the receiving side): after the window's last
// block, the file's last, or the first block out of order (a gap: the sender goes on after the
// block acknowledged). With a window of 1 every DATA is acknowledged, repeats included, as in
// lock-step. A window's later blocks behind a gap, or the copies of a window whose ACK was
// lost, bring one ACK, not one each, so the sender does not start the window again for each.
struct ReceiveWindow {
    uint32_t size = 1;
    uint32_t sinceAck = 0;  // blocks taken in order since the last ACK
    bool gapAnswered = false;

    // `old`: the block is one taken already. Its copy means our ACK was lost, unless blocks
    // came in order since that ACK: the sender then went on already, and a second ACK would
    // start its window again on a block we have, one block out of step with ours.
    bool AckNow(bool progressed, bool complete, bool old) const {
        if (size <= 1 || complete) {
            return true;
        }
        if (progressed) {
            return sinceAck + 1 >= size;
        }
        return !gapAnswered && (!old || sinceAck == 0);
    }
    // Called for every DATA acknowledged, and for a time-out's ACK (`outOfOrder` then).
    void Acknowledged(bool outOfOrder) {
        sinceAck = 0;
        gapAnswered = outOfOrder;
    }
    // A block taken in order that is not acknowledged yet.
    void Taken() {
        ++sinceAck;
        gapAnswered = false;
    }
};

DataStep TakeData(TftpTransfer& t, long n, bool* zeroTaken, bool* gotData) {
    const uint16_t block = GetTftpShort(t.data.data() + 2);
    const uint32_t len = static_cast<uint32_t>(n - 4);
    bool take = false;
    if (block == 0 && t.awaitedBlock == 0) {
        if (*zeroTaken) {
            return DataStep::kIgnore;
        }
        WriteLog(kLogGeneral,
                 "WARNING: First block sent by client is #0, should be #1, fixed by Orvane");
        *zeroTaken = true;
        take = true;
    } else if (block == static_cast<uint16_t>(t.awaitedBlock + 1)) {
        ++t.awaitedBlock;
        take = true;
    }
    if (!take) {
        return DataStep::kAcknowledge;  // a repeat: acknowledge the last block again
    }
    NoteAnswered(t);
    if (t.bytes + len >= platform::kMaxServedFileSize) {
        WriteLog(kLogMajor, "File <%s> : upload reaches 2 GiB, refused", t.fileName.c_str());
        FailTftp(t, kTftpErrDiskFull);
        return DataStep::kFailed;
    }
    if (!t.upload.Write(t.data.data() + 4, len)) {
        t.LogSystemCall(t.upload.LastError(), "write");
        FailTftp(t, kTftpErrDiskFull);
        return DataStep::kFailed;
    }
    t.bytes += len;
    // Only a block taken into the file may end the transfer: a stray short packet must not
    // cut the file.
    t.lastBlockLength = len;
    *gotData = true;
    return DataStep::kAcknowledge;
}

}  // namespace

bool ReceiveFileLoop(TftpTransfer& t, bool oackSent) {
    if (!oackSent && !SendAck(t, 0)) {
        if (t.cancelled.load()) {
            return false;
        }
        t.LogSystemCall(t.socket.LastError(), "send");
        return FailTftp(t, kTftpErrUndefined);
    }
    t.timeouts = 0;
    t.resendsOfPacket = 0;
    t.awaitedBlock = 0;
    NoteSent(t, false);  // ACK 0, or the OACK that stands for it
    bool zeroTaken = false;
    bool gotData = false;
    ReceiveWindow window{t.windowSize};
    while (t.timeouts < TftpConfig::kRetransmitLimit) {
        bool scheduleTimeout = false;
        const int64_t deadline = ResendDeadlineMs(t, oackSent && !gotData, &scheduleTimeout);
        long n =
            AwaitTftpPacket(t, t.data.data(), t.data.size(), deadline - platform::MonotonicMs());
        if (t.cancelled.load() || n == -1) {
            return false;
        }
        if (n == platform::UdpSocket::kTimedOut) {
            WriteLog(kLogInfo, "timeout while waiting for data blk #%d",
                     static_cast<int>(t.awaitedBlock + 1));
            NoteTimeout(t, scheduleTimeout);
            if (oackSent && !gotData) {
                // The OACK stands for ACK 0 here: an ACK 0 would tell the client its options
                // were refused, and blocks of the default size would then be taken for the
                // last one of the negotiated size.
                SendTftpOack(t);
            } else {
                SendAck(t, t.awaitedBlock);
            }
            NoteSent(t, true);
            window.Acknowledged(true);
            continue;
        }
        if (n < 4) {
            WriteLog(kLogGeneral, "rcvd packet too short");
            return FailTftp(t, kTftpErrIllegal);
        }
        const uint16_t op = GetTftpShort(t.data.data());
        if (op != kTftpData) {
            WriteLog(kLogGeneral, "Peer sent unexpected message %d", op);
            return FailTftp(t, kTftpErrIllegal);
        }
        const uint32_t ackedBefore = t.awaitedBlock;
        const bool zeroBefore = zeroTaken;
        DataStep step = TakeData(t, n, &zeroTaken, &gotData);
        if (step == DataStep::kFailed) {
            return false;
        }
        const bool complete = gotData && t.lastBlockLength != t.blockSize;
        // The file takes the old one's place before the client hears it is stored.
        if (complete && !t.upload.Commit()) {
            t.LogSystemCall(t.upload.LastError(), "rename");
            return FailTftp(t, kTftpErrAccess);
        }
        if (step == DataStep::kAcknowledge) {
            const bool progressed = t.awaitedBlock != ackedBefore || zeroTaken != zeroBefore;
            // Every DATA received starts the schedule's wait again, as a packet from a client
            // that is still there; an ACK repeated for a repeated DATA gives no sample.
            t.scheduleDeadlineMs = 0;
            const uint16_t ahead =
                static_cast<uint16_t>(GetTftpShort(t.data.data() + 2) - t.awaitedBlock);
            if (window.AckNow(progressed, complete, ahead == 0 || ahead >= 0x8000)) {
                SendAck(t, t.awaitedBlock);
                window.Acknowledged(!progressed);
            } else if (progressed) {
                window.Taken();
            }
            NoteSent(t, !progressed);
        }
        if (complete) {
            WriteTftpReport(t, t.awaitedBlock);
            return true;
        }
    }
    WriteLog(kLogMajor, "TIMEOUT while waiting for Data block %d, file <%s>",
             static_cast<int>(t.awaitedBlock + 1), t.fileName.c_str());
    return FailTftp(t, kTftpErrUndefined);
}

}  // namespace orvane
