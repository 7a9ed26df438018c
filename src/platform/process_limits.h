#pragma once

#include <cstddef>

namespace orvane::platform {

// Raises this process's soft limit of open files towards `wanted` (never beyond the hard
// limit, never lowering it). Returns the soft limit in force afterwards; 0 if it cannot be
// read.
size_t RaiseOpenFileLimit(size_t wanted);

}  // namespace orvane::platform
