#pragma once

#include <cstdio>

namespace orvane {

// Where the package reader's trace lines go: standard output unless a front-end that uses
// standard output for its own lines points them elsewhere; null silences them.
void SetFmwTraceOutput(std::FILE* out);

// printf-style trace line of the package reader.
void FmwTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace orvane
