#pragma once

#include <cstddef>

namespace orvane::platform {

constexpr int kStdoutFd = 1;

// Whether `fd` is a terminal.
bool IsTerminal(int fd);

// The terminal's size in character cells; false (outputs untouched) when `fd` is no terminal
// or the size is not known.
bool TerminalSize(int fd, int* rows, int* cols);

// Writes part of `data` to `fd` once it can take some without blocking for long, waiting at
// most timeoutMs for that. Bytes written (at most 4096 per call, so a pipe with room for a
// page never blocks the writer), 0 when the reader took nothing in time, -1 on an error such
// as a reader that has gone.
long WriteWithin(int fd, const char* data, size_t len, int timeoutMs);

}  // namespace orvane::platform
