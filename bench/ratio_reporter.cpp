#include "ratio_reporter.h"

#include <algorithm>

void CRatioReporter::ReportRuns(const std::vector<Run>& runs) {
  for (const Run& run : runs) {
    // Aggregates are printed but not kept: the fastest repetition is taken
    // here from the repetitions themselves.
    if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
    // Processor time, not wall time: on a shared machine a benchmark that is
    // descheduled would otherwise be charged for someone else's work.
    m_seconds[run.run_name.str()].push_back(run.cpu_accumulated_time /
                                            static_cast<double>(run.iterations));
  }
  // With repetitions, the console shows their aggregates only (mean,
  // median, spread); single runs are shown as they are.
  std::vector<Run> shown;
  for (const Run& run : runs) {
    if (run.run_type == Run::RT_Aggregate) shown.push_back(run);
  }
  ConsoleReporter::ReportRuns(shown.empty() ? runs : shown);
}

double CRatioReporter::SecondsOf(const std::string& name) const {
  const auto it = m_seconds.find(name);
  if (it == m_seconds.end() || it->second.empty()) return 0.0;
  // The fastest repetition: the machine is shared, and other work only ever
  // adds time.
  return *std::min_element(it->second.begin(), it->second.end());
}
