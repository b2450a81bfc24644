#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// What the fake network library does with a request, read from
// fake_network.txt beside the DLL when Start is called. One command a line:
//   start 0                         Start fails (returns 0) and nothing is reported
//   inline                          reports run inside Start, on the caller's thread
//   pause MS                        wait before the next report (worker thread only)
//   report STATE FIRST SECOND [F]   one report; F names a file beside the script
//                                   whose bytes are the body (none: empty body)
// No report lines: the request never ends.
struct FakeReport {
  int32_t state = 0;
  int32_t firstError = 0;
  int32_t secondError = 0;
  std::string body;
  int pauseMs = 0;  // before this report
};

struct FakeScript {
  int startResult = 1;
  bool inlineReports = false;
  std::vector<FakeReport> reports;
};

// A missing or unreadable script counts as empty: the request never ends.
FakeScript LoadFakeScript(const std::filesystem::path& scriptPath);
