#pragma once

// Paired differences of two programs' times, one per round in which both ran:
// drifts of a shared machine cancel within a round, so the interval around
// their mean is much narrower than the spread of either program's times.
// Portable, so that it is checked natively.

#include <cstddef>
#include <optional>
#include <vector>

struct PairedSummary {
  std::size_t rounds = 0;
  double mean = 0;
  double halfWidth95 = 0;  // Student's t with rounds - 1 degrees of freedom
  double median = 0;
};

// Two-sided 95% quantile of Student's t; degreesOfFreedom >= 1.
double StudentT95(std::size_t degreesOfFreedom);

// Nothing for fewer than two differences: one gives no interval.
std::optional<PairedSummary> SummarizeDifferences(std::vector<double> differences);
