#pragma once

// The steps a transfer's sequence (tftp_serve.cpp), its lock-step loops (tftp_lockstep.cpp) and
// its windowed send loop (tftp_window.cpp) share, on a transfer whose socket is connected to its
// client. Below all three: it includes none of them.

#include <cstddef>
#include <cstdint>

#include "tftp/tftp_transfer_record.h"

namespace orvane {

uint16_t GetTftpShort(const uint8_t* p);
void PutTftpShort(uint8_t* p, uint32_t value);

// Sends ERROR `code` with its text to the client; nothing when the record has no open socket.
void SendTftpError(TftpTransfer& t, int code);

// Sends the OACK built by the decoding; false (nothing sent back) when the send fell short.
bool SendTftpOack(TftpTransfer& t);

// Fails the transfer with ERROR `code`; always false.
bool FailTftp(TftpTransfer& t, int code);

// The next packet's length in `buf`, 0 also when the administrator cancelled, kTimedOut
// when none came within waitMs (at least 1 ms, so one already waiting is still taken), -1 on
// a receive failure (logged and answered here). Waiting and receiving are one system call:
// per block that is the read, the send and this.
long AwaitTftpPacket(TftpTransfer& t, uint8_t* buf, size_t len, int64_t waitMs);

// Waits, on the resend schedule, for the answer to the packet a read transfer sent last (the
// OACK while block 0 is awaited): the packet's length, kTimedOut once the wait ran out (logged
// and counted as a time-out), or -1 when the transfer must end (cancelled, or a failed
// receive answered here).
long AwaitTftpAck(TftpTransfer& t, uint8_t* buf, size_t len);

// Sends block t.nextBlock (read at its offset every time, resends included) and moves on to
// the next; false when the client has been answered with an ERROR (or the transfer was
// cancelled).
bool SendTftpBlock(TftpTransfer& t);

// What a packet received while a read transfer awaits an acknowledgement is; a short packet
// or another opcode is logged and ignored, the client's ERROR is logged and ends the transfer.
enum class TftpAckKind { kIgnore, kAck, kPeerError };
TftpAckKind ReadTftpAck(const uint8_t* pkt, long n, uint16_t* block);

// The closing line of a successful transfer.
void WriteTftpReport(const TftpTransfer& t, uint32_t blocks);

}  // namespace orvane
