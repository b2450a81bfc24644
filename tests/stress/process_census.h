#pragma once

// What this process holds, counted the way the system itself sees it: Wine
// answers GetProcessHandleCount with 0, which would hide any leak, so the
// handles come from the system's handle table.

#include <windows.h>

#include <string>
#include <vector>

namespace kvtest {

struct ProcessCensus {
  std::vector<HANDLE> handles;  // empty when the table cannot be read
  DWORD threads = 0;            // 0 when the threads cannot be listed
};

ProcessCensus TakeCensus();

// One line per handle in `now` that `before` did not hold: its value, its
// kind ("Event", "File", ...) and its name where it has one.
std::string DescribeNewHandles(const ProcessCensus& before, const ProcessCensus& now);

}  // namespace kvtest
