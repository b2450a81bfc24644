#pragma once

#include <cstddef>
#include <string>

// A limit of `bytes` as kvseal's messages give it: the whole MiB, then " MiB".
inline std::string MibText(std::size_t bytes) {
  return std::to_string(bytes / (1024 * 1024)) + " MiB";
}
