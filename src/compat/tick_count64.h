#pragma once

#include <cstdint>

// Extends the 32-bit millisecond tick, which wraps every 49.7 days, to 64
// bits. `last` is the extended value returned before (0 at first); the result
// is the extended value of `now`, never below `last`. A reading below the
// last one by less than half the range is taken as stale (another thread
// stored a later one meanwhile), not as a wrap.
constexpr uint64_t ExtendTickCount(uint64_t last, uint32_t now) {
  const auto lastLow = static_cast<uint32_t>(last);
  uint64_t wraps = last >> 32;
  if (now < lastLow) {
    if (lastLow - now < 0x80000000u) return last;
    ++wraps;
  }
  return (wraps << 32) | now;
}
