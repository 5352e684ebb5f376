#pragma once
// Millisecond clock and sleep. The clock is monotonic; it wraps like a 32-bit tick count, so
// compare readings by unsigned difference.

#include <cstdint>

namespace platform {

uint32_t TickMs();
void SleepMs(uint32_t ms);

// Milliseconds from `start` to now, correct across a wrap of the counter.
inline uint32_t ElapsedMs(uint32_t start)
{
    return TickMs() - start;
}

} // namespace platform
