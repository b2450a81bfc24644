#include "compat/tick_count64.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

TEST(ExtendTickCountTest, Readings) {
  constexpr uint64_t kWrap = uint64_t{1} << 32;
  struct Case {
    const char* name;
    uint64_t last;
    uint32_t now;
    uint64_t expected;
  } const cases[] = {
      {"first reading", 0, 1234, 1234},
      {"later in the same lap", 1000, 5000, 5000},
      {"the same reading", 5000, 5000, 5000},
      {"wrap", 0xFFFFFF00u, 0x10, kWrap + 0x10},
      {"wrap in a later lap", 3 * kWrap + 0xFFFFFFF0u, 5, 4 * kWrap + 5},
      // Another thread stored a newer reading between ours and our store.
      {"slightly stale", 2 * kWrap + 10000, 9990, 2 * kWrap + 10000},
      {"stale by almost half the range", 0x90000000u, 0x10000001u, 0x90000000u},
      {"behind by half the range or more counts as a wrap", 0x90000000u, 0x10000000u,
       kWrap + 0x10000000u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ExtendTickCount(c.last, c.now), c.expected);
  }
}

}  // namespace
