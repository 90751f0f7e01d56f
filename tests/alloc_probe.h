// Counts the heap allocations made by this test executable's own code (the
// engine's static libraries and the tests), leaving out those of the shared
// libraries behind it (Mesa, GLFW, libc), while counting is switched on.
//
// The executable replaces malloc, calloc, realloc and operator new; each
// replacement forwards to glibc and, while counting, checks whether its caller
// lies in the executable's own code. Sanitizer builds bring their own
// allocator, so there the probe is absent and alloc_probe::kAvailable is false.
#pragma once

#include <cstdint>

namespace alloc_probe {
extern const bool kAvailable;
void Start();      // counts from zero
int64_t Stop();    // stops counting and returns the allocations counted
}  // namespace alloc_probe
