#pragma once

// One TFTP transfer on a worker's record, after the worker has connected the transfer socket
// to the client: RunTftpTransfer decodes the request (tftp_decode.h), then runs a loop here.

#include "tftp/tftp_transfer_record.h"

namespace orvane {

// Serves a read request, stop-and-wait; `oackSent` when an OACK opened the transfer (its
// acknowledgement, ACK 0, is then awaited first and the OACK resent on time-outs). True on
// success, including a last block whose acknowledgement never came.
bool SendFileLoop(TftpTransfer& t, bool oackSent);

// Receives a write request's file; `oackSent` when an OACK stands for the first ACK (it is
// then resent on time-outs until the first DATA block arrives).
bool ReceiveFileLoop(TftpTransfer& t, bool oackSent);

// The administrator's cancel, from another thread: ERROR 99 to the client, then the socket is
// shut so the worker's wait returns at once and its loop ends without sending anything more.
// A cancel that comes before the transfer has begun is delivered by RunTftpTransfer instead.
void CancelTftpTransfer(TftpTransfer& t);

// The decode, OACK and loop sequence of one request on the connected socket; the result code
// stored in t.result. A transfer cancelled before it began only sends the cancel.
void RunTftpTransfer(TftpTransfer& t);

}  // namespace orvane
