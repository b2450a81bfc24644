// Starts two or more programs in turn, RUNS times each, and prints each
// one's median and spread of wall time per run, measured from the launch
// (opening NUL and CreateProcessW) to the end of the child's wait, and how
// many runs exited with each code.
// Running them all from one Wine session keeps Wine's own start-up out of
// the comparison. The lines of output are labelled A, B, C... in the order
// of the command lines.
//
// Usage: kv_timed_runs RUNS "COMMAND LINE A" "COMMAND LINE B" ["COMMAND LINE C"...]

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

#include "common/process_launch.h"

namespace {

struct RunSample {
  double milliseconds = 0;
  DWORD exitCode = 0;
};

struct Series {
  std::wstring commandLine;
  std::vector<double> milliseconds;
  std::map<DWORD, int> exitCodes;
};

double Seconds(const LARGE_INTEGER& counter, const LARGE_INTEGER& frequency) {
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The child's standard output goes to NUL: only its time and exit code count.
bool RunOnce(const std::wstring& commandLine, RunSample& sample) {
  LARGE_INTEGER frequency;
  LARGE_INTEGER start;
  LARGE_INTEGER end;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&start);
  kvtest::LaunchedProcess launched;
  if (!kvtest::LaunchProcess(nullptr, commandLine, nullptr, nullptr, nullptr, launched)) {
    return false;
  }
  ::WaitForSingleObject(launched.process.Get(), INFINITE);
  ::QueryPerformanceCounter(&end);
  ::GetExitCodeProcess(launched.process.Get(), &sample.exitCode);
  sample.milliseconds = (Seconds(end, frequency) - Seconds(start, frequency)) * 1000.0;
  return true;
}

double Percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
  return values[index];
}

void Print(char label, const Series& series) {
  std::printf("%c median_ms=%.1f p10_ms=%.1f p90_ms=%.1f runs=%zu", label,
              Percentile(series.milliseconds, 0.5), Percentile(series.milliseconds, 0.1),
              Percentile(series.milliseconds, 0.9), series.milliseconds.size());
  for (const auto& [code, count] : series.exitCodes) std::printf(" exit_0x%08lX=%d", code, count);
  std::printf("\n");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4 || argc > 2 + 26) return 2;
  const int runs = std::wcstol(argv[1], nullptr, 10);
  if (runs < 1) return 2;
  std::vector<Series> series;
  for (int i = 2; i < argc; ++i) series.push_back({argv[i], {}, {}});
  for (int i = 0; i < runs; ++i) {
    for (Series& s : series) {
      RunSample sample;
      if (!RunOnce(s.commandLine, sample)) return 1;
      s.milliseconds.push_back(sample.milliseconds);
      ++s.exitCodes[sample.exitCode];
    }
  }
  for (std::size_t i = 0; i < series.size(); ++i) Print(static_cast<char>('A' + i), series[i]);
  return 0;
}
