#pragma once

// The lock-step loops of a transfer (RFC 1350: one block, then its acknowledgement), run by
// RunTftpTransfer (tftp_serve.h) once the request is decoded and its file open.

#include "tftp/tftp_transfer_record.h"

namespace orvane {

// Serves a read request, stop-and-wait; `oackSent` when an OACK opened the transfer (its
// acknowledgement, ACK 0, is then awaited first and the OACK resent on time-outs). True on
// success, including a last block whose acknowledgement never came.
bool SendFileLoop(TftpTransfer& t, bool oackSent);

// Receives a write request's file; `oackSent` when an OACK stands for the first ACK (it is
// then resent on time-outs until the first DATA block arrives).
bool ReceiveFileLoop(TftpTransfer& t, bool oackSent);

}  // namespace orvane
