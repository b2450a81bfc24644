// Starts two or more programs ROUNDS times each, in rounds: each round runs
// every command line once, in an order shuffled per round, so that drifts of
// the shared machine fall on all of them alike. Times each run from the
// launch (opening NUL and CreateProcessW) to the end of the child's wait.
// Prints each program's median and spread and how many runs exited with each
// code, then the difference of A's time to each other program's, paired
// within a round: mean with its 95% interval, and median. Rounds in which
// any program exited other than 0 are left out of the pairs and counted.
// Running them all from one Wine session keeps Wine's own start-up out of
// the comparison. The lines of output are labelled A, B, C... in the order
// of the command lines.
//
// Usage: kv_timed_runs ROUNDS "COMMAND LINE A" "COMMAND LINE B" ["COMMAND LINE C"...]

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "common/process_launch.h"
#include "paired_stats.h"

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

void PrintPaired(char label, const std::vector<double>& differences, std::size_t excluded) {
  std::printf("D A-%c", label);
  if (const auto summary = SummarizeDifferences(differences)) {
    std::printf(" mean_ms=%.1f ci95_ms=[%.1f,%.1f] median_ms=%.1f", summary->mean,
                summary->mean - summary->halfWidth95, summary->mean + summary->halfWidth95,
                summary->median);
  }
  std::printf(" rounds=%zu excluded=%zu\n", differences.size(), excluded);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4 || argc > 2 + 26) return 2;
  const int rounds = std::wcstol(argv[1], nullptr, 10);
  if (rounds < 1) return 2;
  std::vector<Series> series;
  for (int i = 2; i < argc; ++i) series.push_back({argv[i], {}, {}});

  // Seeded from the clock, so that no fixed order recurs from one session to
  // the next; printed, for telling sessions apart.
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  const auto seed = static_cast<std::uint32_t>(now.QuadPart ^ (now.QuadPart >> 32));
  std::mt19937 random(seed);
  std::printf("order shuffled per round: mt19937 seeded from the clock, seed=%u\n", seed);

  std::vector<std::size_t> order(series.size());
  std::iota(order.begin(), order.end(), 0);
  // Per other program, A's time minus its time, in rounds where all exited 0.
  std::vector<std::vector<double>> differences(series.size());
  std::size_t excluded = 0;
  std::vector<RunSample> round(series.size());
  for (int r = 0; r < rounds; ++r) {
    std::shuffle(order.begin(), order.end(), random);
    for (std::size_t i : order) {
      if (!RunOnce(series[i].commandLine, round[i])) return 1;
      series[i].milliseconds.push_back(round[i].milliseconds);
      ++series[i].exitCodes[round[i].exitCode];
    }
    if (std::any_of(round.begin(), round.end(),
                    [](const RunSample& s) { return s.exitCode != 0; })) {
      ++excluded;
      continue;
    }
    for (std::size_t i = 1; i < series.size(); ++i) {
      differences[i].push_back(round[0].milliseconds - round[i].milliseconds);
    }
  }
  for (std::size_t i = 0; i < series.size(); ++i) Print(static_cast<char>('A' + i), series[i]);
  for (std::size_t i = 1; i < series.size(); ++i) {
    PrintPaired(static_cast<char>('A' + i), differences[i], excluded);
  }
  return 0;
}
