#pragma once

#include <cstdio>
#include "platform/printf_format.h"

namespace orvane {

// Where the package reader's trace lines go: standard output unless a front-end that uses
// standard output for its own lines points them elsewhere; null silences them.
void SetFmwTraceOutput(std::FILE* out);

// printf-style trace line of the package reader.
void FmwTrace(const char* format, ...) ORVANE_PRINTF_FORMAT(1, 2);

}  // namespace orvane
