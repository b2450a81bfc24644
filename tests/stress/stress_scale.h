#pragma once

// How hard the stress tests push. The default keeps each test to seconds in
// the everyday test run; KVFETCH_STRESS_SCALE=full (scripts/stress) asks for
// the figures the release checks quote.

#include <cstdlib>
#include <cstring>

namespace kvtest {

inline bool FullStressScale() {
  const char* scale = std::getenv("KVFETCH_STRESS_SCALE");
  return scale != nullptr && std::strcmp(scale, "full") == 0;
}

// `full` under KVFETCH_STRESS_SCALE=full, otherwise `everyday`.
inline int StressFigure(int everyday, int full) { return FullStressScale() ? full : everyday; }

}  // namespace kvtest
