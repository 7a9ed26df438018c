#pragma once

// The first step of a transfer: the request's bytes read and checked, the file it names opened
// under the root, the options negotiated. Every refusal of a request is made here, before the
// send or receive loop begins.

#include "tftp/tftp_transfer_record.h"

namespace orvane {

// Decodes and checks the request in t.request, opens the file under t.settings->root and
// negotiates the options. On kAnswered the client has been sent an ERROR and nothing more is to
// be done.
TftpDecodeResult DecodeTftpRequest(TftpTransfer& t);

}  // namespace orvane
