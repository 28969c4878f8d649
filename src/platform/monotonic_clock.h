#ifndef QUILLARO_PLATFORM_MONOTONIC_CLOCK_H_
#define QUILLARO_PLATFORM_MONOTONIC_CLOCK_H_

#include <cstdint>

namespace quillaro {

// Milliseconds on a clock that never jumps (not wall time).
uint64_t MonotonicMilliseconds();

// The 32-bit millisecond tick count: wraps every ~49.7 days, so compare
// ticks only through unsigned differences.
inline uint32_t TickCount() { return static_cast<uint32_t>(MonotonicMilliseconds()); }

}  // namespace quillaro

#endif  // QUILLARO_PLATFORM_MONOTONIC_CLOCK_H_
