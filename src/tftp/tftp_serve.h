#pragma once

// One request served on its worker's transfer socket, connected to the client: the request
// decoded, its file opened, the options negotiated, the client answered (an ERROR, an OACK or
// the first packet), then the send or receive loop; and the administrator's cancel.

#include <cstddef>
#include <cstdint>

#include "tftp/tftp_transfer_record.h"

namespace orvane {

// The decode, open, OACK and loop sequence of the request's `length` bytes on the connected
// socket; the result code stored in t.result. A transfer cancelled before it began only sends
// the cancel.
void RunTftpTransfer(TftpTransfer& t, const uint8_t* request, size_t length);

// The administrator's cancel, from another thread: ERROR 99 to the client, then the socket is
// shut so the worker's wait returns at once and its loop ends without sending anything more.
// A cancel that comes before the transfer has begun is delivered by RunTftpTransfer instead.
void CancelTftpTransfer(TftpTransfer& t);

}  // namespace orvane
