#pragma once

#include <cstdarg>
#include <cstddef>

namespace orvane {

// printf into `out` (`size` bytes, always terminated when size > 0), except that control bytes
// inside %s and %c arguments are written as "\r", "\n" or "\xNN". Text from the network
// reaches the log through those arguments, and a raw CR LF in it would start a line that
// looks like the log's own. The format's own text, line feeds included, is copied as written.
// Returns the length written (cut at size - 1).
size_t FormatLogMessage(char* out, size_t size, const char* format, va_list args);

}  // namespace orvane
