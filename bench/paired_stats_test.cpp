#include "paired_stats.h"

#include <gtest/gtest.h>

#include <numeric>

namespace {

std::vector<double> Iota(std::size_t count) {
  std::vector<double> values(count);
  std::iota(values.begin(), values.end(), 0.0);
  return values;
}

// Expected values from an independent computation (exact t quantiles by
// numerical integration of the density).
TEST(PairedStatsTest, MeanIntervalAndMedianOfDifferences) {
  struct Case {
    std::vector<double> differences;
    double mean, halfWidth, median;
  };
  const Case cases[] = {
      {{1, 2, 3, 4, 5}, 3, 1.9632, 3},
      {{10, 12, 9, 15}, 11.5, 4.2100, 11},  // unsorted, even count
      {{-3, 1}, -1, 25.4124, -1},           // one degree of freedom
      {{7, 7, 7}, 7, 0, 7},
      {Iota(41), 20, 3.7811, 20},  // past the table of quantiles
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.differences.size());
    const auto summary = SummarizeDifferences(c.differences);
    ASSERT_TRUE(summary);
    EXPECT_EQ(summary->rounds, c.differences.size());
    EXPECT_NEAR(summary->mean, c.mean, 1e-9);
    EXPECT_NEAR(summary->halfWidth95, c.halfWidth, 2e-4);
    EXPECT_NEAR(summary->median, c.median, 1e-9);
  }
  EXPECT_FALSE(SummarizeDifferences({}));
  EXPECT_FALSE(SummarizeDifferences({4}));
}

TEST(PairedStatsTest, QuantileFallsTowardTheNormalOne) {
  EXPECT_NEAR(StudentT95(1), 12.7062, 2e-4);
  EXPECT_NEAR(StudentT95(10), 2.2281, 2e-4);
  EXPECT_NEAR(StudentT95(11), 2.2010, 2e-4);
  EXPECT_NEAR(StudentT95(60), 2.0003, 2e-4);
  EXPECT_NEAR(StudentT95(1000), 1.9623, 2e-4);
}

}  // namespace
