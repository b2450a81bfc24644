#pragma once

// Console reporter that also keeps each benchmark's time per iteration, so
// that main can print ours beside OpenSSL's and the target verdicts.

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

class CRatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override;

  // Seconds per iteration of the fastest repetition; 0 when it did not run.
  double SecondsOf(const std::string& name) const;

 private:
  std::map<std::string, std::vector<double>> m_seconds;
};
