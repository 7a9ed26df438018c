#pragma once

// The first step of a transfer: the request's bytes read and checked, and, once its file is
// open, the options negotiated. Both are decisions only: they send nothing and open nothing, so
// the caller answers the client (an ERROR, or an OACK) and tests need no socket.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tftp/tftp_request.h"
#include "tftp/tftp_settings.h"

namespace orvane {

// The ERROR a request is answered with: its code and the text that goes with it.
struct TftpRefusal {
    int code = kTftpErrUndefined;
    const char* text = "";
};

// What the decoding of a request decided: a refusal, or the request to serve.
struct TftpDecodedRequest {
    bool refused = false;
    TftpRefusal refusal;  // when refused
    int opcode = 0;       // kTftpRrq or kTftpWrq once accepted
    int mode = kTftpModeOctet;
    std::string fileName;  // as requested, separators normalised; the one the log lines name
    std::string fullName;  // under the root
    std::vector<TftpOption> options;
};

// Reads and checks the request's `length` bytes against `settings` (its root and whether uploads
// are served); logs each decision. Looks at no file: a name the checks let through may still be
// refused when its file is opened.
TftpDecodedRequest DecodeTftpRequest(const uint8_t* data, size_t length,
                                     const TftpSettings& settings);

// A refusal with the standard text of `code`.
TftpRefusal TftpRefusalOf(int code);
// ERROR 2 for a name or a path that leaves the root (`err` the system error the log names), and
// for one of the program's own files; each logged, one line a second at most of each kind.
TftpRefusal RefuseTftpAccess(const std::string& fileName, int err);
TftpRefusal RefuseTftpOwnFile(const std::string& fileName, int opcode);

// The options of an accepted request, negotiated once its file is open: a read's tsize answers
// with `fileSize`. An OACK goes out when the result has option bytes.
TftpNegotiation NegotiateTftpRequest(const TftpDecodedRequest& request, uint32_t fileSize,
                                     int timeoutSeconds, uint32_t maxWindow);

}  // namespace orvane
