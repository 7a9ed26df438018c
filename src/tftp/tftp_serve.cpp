#include "tftp/tftp_serve.h"

#include <cstring>

#include "support/log.h"
#include "tftp/tftp_counters.h"
#include "tftp/tftp_decode.h"
#include "tftp/tftp_lockstep.h"
#include "tftp/tftp_open.h"
#include "tftp/tftp_steps.h"
#include "tftp/tftp_window.h"

namespace orvane {

namespace {

// Under t.csSend, on a connected socket: ERROR 99, then the socket shut so the worker's wait
// returns at once.
void DeliverCancel(TftpTransfer& t) {
    uint8_t packet[64];
    size_t len = BuildTftpError(packet, sizeof packet, kTftpErrCancelled);
    t.socket.Send(packet, len);
    t.socket.Shutdown();
}

// Built in a buffer of its own, as every ERROR: the data buffer may hold a block.
void SendRefusal(TftpTransfer& t, const TftpRefusal& refusal) {
    uint8_t packet[kTftpPacketSize];
    const size_t len = BuildTftpError(packet, sizeof packet, refusal.code, refusal.text);
    if (len > 0) {
        t.Send(packet, len);
    }
}

// The negotiated options in force on the record, the OACK built in its control buffer; true
// when the OACK opens the transfer.
bool TakeNegotiation(TftpTransfer& t, const TftpNegotiation& n) {
    t.blockSize = n.blockSize;
    t.windowSize = n.windowSize;
    t.timeoutSeconds = n.timeoutSeconds;
    // A client that asked its own time-out gets exactly that schedule, not measured waits.
    t.adaptiveWaits = !n.timeoutTaken;
    t.fileSize = n.fileSize;
    t.control[0] = 0;  // opcode, 16 bits big-endian
    t.control[1] = kTftpOack;
    std::memcpy(t.control.data() + 2, n.options.data(), n.optionLength);
    t.oackLength = n.optionLength;
    const bool oack = n.optionLength > 0;
    t.awaitedBlock = t.opcode == kTftpRrq && !oack ? 1 : 0;
    t.blockCount = t.fileSize / t.blockSize + 1;
    return oack;
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

void RunTftpTransfer(TftpTransfer& t, const uint8_t* request, size_t length) {
    {
        std::lock_guard<std::mutex> lock(t.csSend);
        t.connected = true;
        if (t.cancelled.load()) {
            DeliverCancel(t);
            t.result = kTftpResultFailure;
            return;
        }
    }
    const TftpDecodedRequest decoded = DecodeTftpRequest(request, length, *t.settings);
    t.opcode = decoded.opcode;
    t.mode = decoded.mode;
    t.fileName = decoded.fileName;
    TftpRefusal refusal = decoded.refusal;
    if (decoded.refused || !OpenTftpFile(t, decoded, &refusal)) {
        SendRefusal(t, refusal);
        t.result = kTftpResultFailure;
        return;
    }
    const bool oack = TakeNegotiation(
        t, NegotiateTftpRequest(decoded, t.fileSize, t.timeoutSeconds, t.settings->maxWindow));
    platform::SocketAddress local;
    t.socket.LocalAddress(&local);
    WriteLog(kLogDebug0, "Using local port %s", local.NumericPort().c_str());
    t.result = kTftpResultRunning;
    TftpTransferCount counted;
    bool ok = !oack || SendTftpOack(t);
    if (ok && t.opcode == kTftpRrq) {
        // windowsize is only ever granted in an OACK
        ok = t.windowSize > 1 ? SendWindowLoop(t) : SendFileLoop(t, oack);
    } else if (ok) {
        ok = ReceiveFileLoop(t, oack);
    }
    t.upload.Discard();  // an upload that did not complete leaves nothing behind
    WriteLog(kLogInfo, "return from thread\n");
    t.result = ok ? kTftpResultSuccess : kTftpResultFailure;
    counted.SetOk(ok);
}

}  // namespace orvane
