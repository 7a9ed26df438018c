#pragma once

// A read transfer whose client asked a window (RFC 7440): t.windowSize blocks leave back to
// back, and the acknowledgement of a window's last block opens the next.

#include "tftp/tftp_transfer_record.h"

namespace orvane {

// Serves a read request after its OACK was sent (windowsize is only ever granted in one):
// ACK 0 opens the first window. An acknowledgement of an earlier block of the window tells
// that the rest was lost, and the next window begins after it; a time-out sends the window
// again from the first block not acknowledged. A repeated acknowledgement alone never brings
// a copy. True on success, including a last block whose acknowledgement alone never came.
bool SendWindowLoop(TftpTransfer& t);

}  // namespace orvane
