#pragma once

#include <cstddef>

// The largest response body the network library hands over: the stand-in
// fails a longer one (ERROR_INSUFFICIENT_BUFFER) so that a hostile or broken
// server cannot make it swallow all memory. kvfetch can therefore never
// receive a larger envelope, and kvseal neither reads nor writes one.
inline constexpr std::size_t kMaxResponseBodyBytes = 16 * 1024 * 1024;
