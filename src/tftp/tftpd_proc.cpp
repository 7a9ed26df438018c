// One TFTP transfer: request decoding, file opening under the root, the OACK, the send and
// receive loops, ERROR packets and the closing report.
#include "tftp/tftpd_proc.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/clock.h"
#include "support/log.h"
#include "tftp/tftp_counters.h"
#include "tftp/tftp_interface.h"

namespace orvane {

namespace {

constexpr int kMaxUnacked = 50;

// Read by every worker; changed only by tests.
std::atomic<int> g_iSecondMs{1000};

void LogSystemCall(const TftpTransfer& t, int err, const char* call) {
    WriteLog(kLogMajor, "File <%s> : error %d in system call %s %s", t.fileName.c_str(), err, call,
             platform::SystemErrorText(err).c_str());
}

void PutShort(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>((value >> 8) & 0xFF);
    p[1] = static_cast<uint8_t>(value & 0xFF);
}

uint16_t GetShort(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

// Every packet of a transfer leaves through here, under the record's send lock, so a cancel
// from the main thread is never interleaved with it and nothing follows the cancel.
long SendPacket(TftpTransfer& t, const uint8_t* buf, size_t len) {
    std::lock_guard<std::mutex> lock(t.csSend);
    if (t.cancelled.load() || !t.socket.IsOpen()) {
        return -1;
    }
    return t.socket.Send(buf, len);
}

bool SendAck(TftpTransfer& t, uint32_t block) {
    uint8_t ack[4];
    PutShort(ack, kTftpAck);
    PutShort(ack + 2, block);
    return SendPacket(t, ack, sizeof ack) == static_cast<long>(sizeof ack);
}

// Fails the transfer with ERROR `code`.
bool Fail(TftpTransfer& t, int code) {
    SendTftpError(t, code);
    return false;
}

// How long a packet is waited for: it grows with the consecutive time-outs, a quarter, a
// half, then the whole time-out.
int WaitMs(const TftpTransfer& t) {
    const int whole = t.timeoutSeconds;
    const int seconds =
        t.timeouts == 0 ? (whole + 3) / 4 : (t.timeouts == 1 ? (whole + 1) / 2 : whole);
    return seconds * g_iSecondMs.load(std::memory_order_relaxed);
}

// The next packet's length in `buf`, 0 also when the administrator cancelled, kTimedOut
// when none came within waitMs (at least 1 ms, so one already waiting is still taken), -1 on
// a receive failure (logged and answered here). Waiting and receiving are one system call:
// per block that is the read, the send and this.
long AwaitPacket(TftpTransfer& t, uint8_t* buf, size_t len, int64_t waitMs) {
    // A receive time-out of 0 would mean no time-out at all.
    long n = t.socket.ReceiveWithin(buf, len, static_cast<int>(std::max<int64_t>(waitMs, 1)));
    if (n == -1 && !t.cancelled.load()) {
        LogSystemCall(t, t.socket.LastError(), "recv");
        Fail(t, kTftpErrUndefined);
    }
    return n;
}

// Refuses a name or a path that leaves the root.
TftpDecodeResult RefuseAccess(TftpTransfer& t, int err) {
    WriteLog(kLogGeneral, "Error EACCESS on file %s. Ext error %s", t.fileName.c_str(),
             platform::SystemErrorText(err).c_str());
    SendTftpError(t, kTftpErrAccess);
    return TftpDecodeResult::kAnswered;
}

TftpDecodeResult Answer(TftpTransfer& t, int code) {
    SendTftpError(t, code);
    return TftpDecodeResult::kAnswered;
}

// Opens the temporary file of an upload beside the file it will replace; false when the
// client has been answered with an ERROR.
bool OpenUpload(TftpTransfer& t, const std::string& fullName, const std::string& realRoot) {
    // Never create a file through a linked folder that leads out of the root: checked before
    // the temporary file is made, and again on the folder it was made in.
    size_t slash = fullName.rfind('/');
    std::string parent = slash == std::string::npos ? "." : fullName.substr(0, slash + 1);
    std::string realParent = platform::RealPath(parent);
    if (!realParent.empty() && !platform::IsPathInsideRoot(realRoot, realParent)) {
        RefuseAccess(t, EACCES);
        return false;
    }
    if (!t.upload.Open(fullName)) {
        LogSystemCall(t, t.upload.LastError(), "CreateFile");
        SendTftpError(t, kTftpErrAccess);
        return false;
    }
    if (!platform::IsPathInsideRoot(realRoot, t.upload.RealFolder())) {
        t.upload.Discard();
        RefuseAccess(t, EACCES);
        return false;
    }
    return true;
}

// Opens the file the request names; false when the client has been answered with an ERROR.
bool OpenRequestedFile(TftpTransfer& t, const std::string& fullName) {
    const std::string realRoot = platform::RealPath(t.szRoot.empty() ? "." : t.szRoot);
    if (t.opcode != kTftpRrq) {
        return OpenUpload(t, fullName, realRoot);
    }
    if (!t.file.OpenRead(fullName)) {
        LogSystemCall(t, t.file.LastError(), "CreateFile");
        SendTftpError(t, kTftpErrNotFound);
        return false;
    }
    std::string realFile = t.file.RealPath();
    if (realFile.empty()) {
        realFile = platform::RealPath(fullName);
    }
    if (!platform::IsPathInsideRoot(realRoot, realFile)) {
        t.file.Close();
        RefuseAccess(t, EACCES);
        return false;
    }
    int64_t size = t.file.Size();
    if (size < 0 || size >= platform::kMaxServedFileSize) {
        WriteLog(kLogMajor, "File <%s> : %lld bytes, files of 2 GiB or more are not served",
                 t.fileName.c_str(), static_cast<long long>(size));
        SendTftpError(t, kTftpErrUndefined);
        return false;
    }
    t.fileSize = static_cast<uint32_t>(size);
    return true;
}

void WriteReport(const TftpTransfer& t, uint32_t blocks) {
    const int64_t seconds = platform::WallClockSeconds() - t.startTime;
    WriteLog(kLogDebug0, "<%s>: %s %d blk%s, %lld bytes in %d s. %d blk%s resent",
             t.fileName.c_str(), t.opcode == kTftpRrq ? "sent" : "rcvd", static_cast<int>(blocks),
             blocks > 1 ? "s" : "", static_cast<long long>(t.bytes), static_cast<int>(seconds),
             static_cast<int>(t.resent), t.resent > 1 ? "s" : "");
}

}  // namespace

void SetTftpSecondMs(int ms) {
    g_iSecondMs = ms;
}

void TftpTransfer::Reset(const std::string& root, int timeout, int number, int64_t now) {
    szRoot = root;
    defaultTimeout = timeout;
    timeoutSeconds = timeout;
    transferNumber = number;
    blockSize = kTftpSegment;
    file.Close();
    upload.Discard();
    opcode = 0;
    fileName.clear();
    awaitedBlock = blockCount = nextBlock = lastBlockLength = 0;
    timeouts = unacked = 0;
    sentAtMs = 0;
    mode = kTftpModeOctet;
    fileSize = 0;
    oackLength = 0;
    bytes = 0;
    resent = 0;
    result = kTftpResultRunning;
    startTime = now;
    connected = false;
    requestLength = 0;
    request.fill(0);
    control.fill(0);
    cancelled = false;
}

void SendTftpError(TftpTransfer& t, int code) {
    // Built in a buffer of its own: the data buffer may still hold a block to resend.
    uint8_t packet[64];
    size_t len = BuildTftpError(packet, sizeof packet, code);
    SendPacket(t, packet, len);
}

namespace {

// Under t.csSend, on a connected socket: ERROR 99, then the socket shut so the worker's wait
// returns at once.
void DeliverCancel(TftpTransfer& t) {
    uint8_t packet[64];
    size_t len = BuildTftpError(packet, sizeof packet, kTftpErrCancelled);
    t.socket.Send(packet, len);
    t.socket.Shutdown();
}

}  // namespace

void CancelTftpTransfer(TftpTransfer& t) {
    std::lock_guard<std::mutex> lock(t.csSend);
    if (t.cancelled.load()) {
        return;
    }
    t.cancelled = true;
    // Before the worker has connected its socket the cancel has nowhere to go yet (and a shut
    // unconnected socket could never carry it): the worker delivers it when it begins.
    if (t.connected && t.socket.IsOpen()) {
        DeliverCancel(t);
    }
}

TftpDecodeResult DecodeTftpRequest(TftpTransfer& t) {
    const TftpRequestFields f =
        SplitTftpRequest(t.request.data(), std::min(t.requestLength, t.request.size()));
    t.opcode = f.opcode;
    if (f.opcode != kTftpRrq && f.opcode != kTftpWrq) {
        WriteLog(kLogMajor, "Unexpected request %d from peer", f.opcode);
        WriteLog(kLogMajor, "Returning EBADOP to Peer");
        return Answer(t, kTftpErrIllegal);
    }
    t.fileName = f.fileName;
    if (f.fileName.size() >= kTftpMaxPath) {
        WriteLog(kLogMajor, "File name too long, return EBADOP to peer");
        return Answer(t, kTftpErrIllegal);
    }
    if (f.fileName.find('%') != std::string::npos) {
        WriteLog(kLogGeneral, "Error: Orvane does not handle filenames with a percent sign");
        return Answer(t, kTftpErrAccess);
    }
    WriteLog(kLogInfo, "FileName is <%s>", f.fileName.c_str());
    t.mode = TftpModeFromText(f.mode);
    if (t.mode < 0) {
        WriteLog(kLogMajor, "Uncorrect message");
        return Answer(t, kTftpErrIllegal);
    }
    const bool isRead = f.opcode == kTftpRrq;
    WriteLog(kLogInfo, "Mode is <%s>", f.mode.c_str());
    WriteLog(kLogInfo, "%s request for file <%s>. Mode %s", isRead ? "Read" : "Write",
             f.fileName.c_str(), f.mode.c_str());
    if (!isRead && !t.writeAllowed) {
        WriteLog(kLogGeneral, "Write request for file <%s> refused: uploads are turned off",
                 f.fileName.c_str());
        return Answer(t, kTftpErrAccess);
    }

    t.fileName = NormaliseTftpName(f.fileName);
    if (IsRefusedTftpName(t.fileName)) {
        return RefuseAccess(t, ENOTDIR);
    }
    const std::string fullName = JoinTftpPath(t.szRoot, t.fileName);
    WriteLog(kLogInfo, "final name : <%s>", fullName.c_str());
    if (fullName.size() >= kTftpMaxPath) {
        WriteLog(kLogMajor, "File name too long, return EBADOP to peer");
        return Answer(t, kTftpErrIllegal);
    }
    if (!OpenRequestedFile(t, fullName)) {
        return TftpDecodeResult::kAnswered;
    }

    TftpNegotiation n;
    n.timeoutSeconds = t.timeoutSeconds;
    n.fileSize = t.fileSize;
    NegotiateTftpOptions(f.options, isRead, &n);
    t.blockSize = n.blockSize;
    t.timeoutSeconds = n.timeoutSeconds;
    t.fileSize = n.fileSize;
    PutShort(t.control.data(), kTftpOack);
    std::memcpy(t.control.data() + 2, n.options.data(), n.optionLength);
    t.oackLength = n.optionLength;

    const bool oack = n.optionLength > 0;
    t.awaitedBlock = isRead && !oack ? 1 : 0;
    t.blockCount = t.fileSize / t.blockSize + 1;
    if (!oack) {
        return isRead ? TftpDecodeResult::kRead : TftpDecodeResult::kWrite;
    }
    WriteLog(kLogDebug0, "OACK: <%s>", PrintableOack(n.options.data(), n.optionLength).c_str());
    WriteLog(kLogDebug0, "Size of OACK string : <%d>", static_cast<int>(n.optionLength));
    return isRead ? TftpDecodeResult::kReadWithOack : TftpDecodeResult::kWriteWithOack;
}

bool SendTftpOack(TftpTransfer& t) {
    const size_t len = t.oackLength + 2;
    WriteLog(kLogDebug0, "send OACK %d bytes", static_cast<int>(len));
    long sent = SendPacket(t, t.control.data(), len);
    t.sentAtMs = platform::MonotonicMs();
    if (sent != static_cast<long>(len)) {
        WriteLog(kLogMajor, "send : Error %d", t.socket.LastError());
        return false;
    }
    return true;
}

namespace {

// Sends block t.nextBlock (read at its offset every time, resends included); false when the
// client has been answered with an ERROR.
bool SendNextBlock(TftpTransfer& t) {
    const int64_t offset = static_cast<int64_t>(t.nextBlock - 1) * t.blockSize;
    long n = t.file.ReadAt(offset, t.data.data() + 4, t.blockSize);
    if (n < 0) {
        LogSystemCall(t, t.file.LastError(), "ReadFile");
        return Fail(t, kTftpErrUndefined);
    }
    PutShort(t.data.data(), kTftpData);
    PutShort(t.data.data() + 2, t.nextBlock);
    const size_t len = 4 + static_cast<size_t>(n);
    if (SendPacket(t, t.data.data(), len) != static_cast<long>(len)) {
        if (t.cancelled.load()) {
            return false;
        }
        LogSystemCall(t, t.socket.LastError(), "send");
        return Fail(t, kTftpErrUndefined);
    }
    GetTftpCounters().bytesSent += static_cast<uint64_t>(n);
    t.sentAtMs = platform::MonotonicMs();
    t.lastBlockLength = static_cast<uint32_t>(n);
    ++t.unacked;
    ++t.nextBlock;
    return true;
}

// Handles one packet received while a read transfer awaits an acknowledgement; false when
// the transfer must end (the client gave up).
bool TakeAck(TftpTransfer& t, const uint8_t* pkt, long n) {
    if (n < 4) {
        WriteLog(kLogGeneral, "rcvd packet too short");
        return true;
    }
    const uint16_t op = GetShort(pkt);
    if (op == kTftpError) {
        std::string text(reinterpret_cast<const char*>(pkt) + 4, static_cast<size_t>(n - 4));
        text = text.c_str();  // up to its NUL, if any
        WriteLog(kLogGeneral, "Peer returns ERROR <%s> -> aborting transfer", text.c_str());
        return false;
    }
    if (op != kTftpAck) {
        WriteLog(kLogSuggestive, "ignore unknown opcode %d received", op);
        return true;
    }
    const uint16_t block = GetShort(pkt + 2);
    const uint16_t awaited = static_cast<uint16_t>(t.awaitedBlock);
    if (block == awaited) {
        t.resent += static_cast<uint32_t>(t.timeouts);
        t.timeouts = 0;
        t.unacked = 0;
        if (t.awaitedBlock != 0) {
            t.bytes += t.lastBlockLength;
        }
        ++t.awaitedBlock;
        t.nextBlock = t.awaitedBlock;
    } else if (block == static_cast<uint16_t>(awaited - 1) && t.unacked < 3 &&
               t.awaitedBlock != 1) {
        WriteLog(kLogGeneral, "Ack block %d ignored (received twice)", block);
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
    uint8_t pkt[kTftpPacketSize];
    const int retransmitLimit = 6;
    while (t.timeouts < retransmitLimit) {
        if (t.timeouts > 0) {
            if (t.awaitedBlock == 0) {
                // The OACK or its acknowledgement was lost: the OACK is what is resent, never a
                // block 0, which the file does not have.
                if (oackSent && !SendTftpOack(t)) {
                    return false;
                }
                ++t.unacked;
            } else {
                t.nextBlock = t.awaitedBlock;
            }
        }
        if (t.awaitedBlock != 0 && t.nextBlock <= t.awaitedBlock && t.nextBlock <= t.blockCount &&
            !SendNextBlock(t)) {
            return false;
        }
        // Measured from the last send, not from the last packet received: a client that
        // repeats its last ACK on its own clock while a DATA is lost would otherwise hold the
        // resend off for as long as it repeats, and give up first.
        long n = AwaitPacket(t, pkt, sizeof pkt, t.sentAtMs + WaitMs(t) - platform::MonotonicMs());
        if (t.cancelled.load() || n == -1) {
            return false;
        }
        if (n == platform::UdpSocket::kTimedOut) {
            WriteLog(kLogSuggestive, "timeout while waiting for ack blk #%d",
                     static_cast<int>(t.awaitedBlock));
            ++t.timeouts;
        } else if (!TakeAck(t, pkt, n)) {
            return false;
        }
        if (t.nextBlock > t.blockCount && t.unacked == 0) {
            WriteLog(kLogDebug0, "Count %d, Last pkt %d ", static_cast<int>(t.awaitedBlock),
                     static_cast<int>(t.nextBlock));
            WriteReport(t, t.awaitedBlock - 1);
            return true;
        }
        if (t.unacked >= kMaxUnacked) {
            WriteLog(kLogMajor, "MAX RETRIES while waiting for Ack block %d. file <%s>",
                     static_cast<int>(t.awaitedBlock), t.fileName.c_str());
            return Fail(t, kTftpErrUndefined);
        }
    }
    if (t.awaitedBlock != 0 && t.nextBlock > t.blockCount) {
        WriteLog(kLogGeneral, "WARNING : Last block #%d not acked for file <%s>",
                 static_cast<int>(t.awaitedBlock), t.fileName.c_str());
        t.resent += static_cast<uint32_t>(t.timeouts);
        WriteLog(kLogDebug0, "Count %d, Last pkt %d ", static_cast<int>(t.awaitedBlock),
                 static_cast<int>(t.nextBlock));
        WriteReport(t, t.awaitedBlock - 1);
        return true;
    }
    WriteLog(kLogGeneral, "TIMEOUT waiting for Ack block #%d ", static_cast<int>(t.awaitedBlock));
    return Fail(t, kTftpErrUndefined);
}

namespace {

// Outcome of one DATA packet of a write transfer.
enum class DataStep { kAcknowledge, kIgnore, kFailed };

DataStep TakeData(TftpTransfer& t, long n, bool* zeroTaken, bool* gotData) {
    const uint16_t block = GetShort(t.data.data() + 2);
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
    t.resent += static_cast<uint32_t>(t.timeouts);
    t.timeouts = 0;
    if (t.bytes + len >= platform::kMaxServedFileSize) {
        WriteLog(kLogMajor, "File <%s> : upload reaches 2 GiB, refused", t.fileName.c_str());
        Fail(t, kTftpErrDiskFull);
        return DataStep::kFailed;
    }
    if (!t.upload.Write(t.data.data() + 4, len)) {
        LogSystemCall(t, t.upload.LastError(), "write");
        Fail(t, kTftpErrDiskFull);
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
        LogSystemCall(t, t.socket.LastError(), "send");
        return Fail(t, kTftpErrUndefined);
    }
    t.timeouts = 0;
    t.awaitedBlock = 0;
    bool zeroTaken = false;
    bool gotData = false;
    const int retransmitLimit = 6;
    while (t.timeouts < retransmitLimit) {
        long n = AwaitPacket(t, t.data.data(), t.data.size(), WaitMs(t));
        if (t.cancelled.load() || n == -1) {
            return false;
        }
        if (n == platform::UdpSocket::kTimedOut) {
            WriteLog(kLogInfo, "timeout while waiting for data blk #%d",
                     static_cast<int>(t.awaitedBlock + 1));
            ++t.timeouts;
            if (oackSent && !gotData) {
                // The OACK stands for ACK 0 here: an ACK 0 would tell the client its options
                // were refused, and blocks of the default size would then be taken for the
                // last one of the negotiated size.
                SendTftpOack(t);
            } else {
                SendAck(t, t.awaitedBlock);
            }
            continue;
        }
        if (n < 4) {
            WriteLog(kLogGeneral, "rcvd packet too short");
            return Fail(t, kTftpErrIllegal);
        }
        const uint16_t op = GetShort(t.data.data());
        if (op != kTftpData) {
            WriteLog(kLogGeneral, "Peer sent unexpected message %d", op);
            return Fail(t, kTftpErrIllegal);
        }
        DataStep step = TakeData(t, n, &zeroTaken, &gotData);
        if (step == DataStep::kFailed) {
            return false;
        }
        const bool complete = gotData && t.lastBlockLength != t.blockSize;
        // The file takes the old one's place before the client hears it is stored.
        if (complete && !t.upload.Commit()) {
            LogSystemCall(t, t.upload.LastError(), "rename");
            return Fail(t, kTftpErrAccess);
        }
        if (step == DataStep::kAcknowledge) {
            SendAck(t, t.awaitedBlock);
        }
        if (complete) {
            WriteReport(t, t.awaitedBlock);
            return true;
        }
    }
    WriteLog(kLogMajor, "TIMEOUT while waiting for Data block %d, file <%s>",
             static_cast<int>(t.awaitedBlock + 1), t.fileName.c_str());
    return Fail(t, kTftpErrUndefined);
}

void RunTftpTransfer(TftpTransfer& t) {
    {
        std::lock_guard<std::mutex> lock(t.csSend);
        t.connected = true;
        if (t.cancelled.load()) {
            DeliverCancel(t);
            t.result = kTftpResultFailure;
            return;
        }
    }
    const TftpDecodeResult decoded = DecodeTftpRequest(t);
    if (decoded == TftpDecodeResult::kAnswered) {
        t.result = kTftpResultFailure;
        return;
    }
    platform::SocketAddress local;
    t.socket.LocalAddress(&local);
    WriteLog(kLogDebug0, "Using local port %s", local.NumericPort().c_str());
    t.result = kTftpResultRunning;
    TftpTransferCount counted;
    bool ok = false;
    switch (decoded) {
        case TftpDecodeResult::kReadWithOack:
            ok = SendTftpOack(t) && SendFileLoop(t, true);
            break;
        case TftpDecodeResult::kWriteWithOack:
            ok = SendTftpOack(t) && ReceiveFileLoop(t, true);
            break;
        case TftpDecodeResult::kRead:
            ok = SendFileLoop(t, false);
            break;
        case TftpDecodeResult::kWrite:
            ok = ReceiveFileLoop(t, false);
            break;
        case TftpDecodeResult::kAnswered:
            break;
    }
    t.upload.Discard();  // an upload that did not complete leaves nothing behind
    WriteLog(kLogInfo, "return from thread\n");
    t.result = ok ? kTftpResultSuccess : kTftpResultFailure;
    counted.SetOk(ok);
}

}  // namespace orvane
