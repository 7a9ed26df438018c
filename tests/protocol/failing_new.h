#pragma once

#include <cstddef>

namespace orvane::test {

// Makes the next `operator new` of exactly `size` bytes on another thread than the caller's
// throw std::bad_alloc (once; 0 disarms). The replacement allocator lives in failing_new.cpp,
// linked into this test program.
void FailNextAllocationOf(size_t size);

}  // namespace orvane::test
