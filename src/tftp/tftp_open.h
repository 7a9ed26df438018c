#pragma once

// The second step of a transfer: the file a decoded request names, opened under the root (a
// read's file, or an upload's temporary file beside the one it will replace), and checked for
// what the name alone cannot tell: a link out of the root, one of the program's own files, a
// file the signed list did not vouch for, a size too large to serve.

#include "tftp/tftp_decode.h"
#include "tftp/tftp_transfer_record.h"

namespace orvane {

// Opens t.file (a read) or t.upload (a write) for `request`, accepted by DecodeTftpRequest under
// t.settings, and sets t.fileSize. False with `*refusal` set when the request is refused: the
// client is still to be answered, and nothing is left open. A refusal for a file the signed list
// did not vouch for is told to t.settings->onRefused before this returns.
bool OpenTftpFile(TftpTransfer& t, const TftpDecodedRequest& request, TftpRefusal* refusal);

}  // namespace orvane
