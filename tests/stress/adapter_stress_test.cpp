// The GET adapter hammered by many reporting threads at once: reports racing
// each other, the caller's wake-up and the adapter's destructor, and reports
// made synchronously on the caller's thread. Built twice: natively under
// ThreadSanitizer over a standard-library event (tsan/), and for Wine over
// the real kernel calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/http_get.h"
#include "stress_scale.h"
#include "stress_task.h"

namespace {

using kvtest::CStressFactory;
using kvtest::StressOutcome;
using kvtest::StressPlan;
using kvtest::StressTally;

// Far beyond any report's arrival; only a lost wake-up waits it out.
constexpr DWORD kWaitLimitMs = 120000;
constexpr char kUntouched[] = "body before the call";

struct AdapterRun {
  StressPlan plan;
  StressTally tally;
  bool result = false;
  std::string body = kUntouched;
  bool waitedOut = false;
  int created = 0;
};

void RunOne(AdapterRun& run) {
  CStressFactory factory(run.plan, run.tally);
  const auto start = std::chrono::steady_clock::now();
  run.result = HttpGet(&factory, L"http://127.0.0.1/stress", run.body, kWaitLimitMs);
  run.waitedOut =
      std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(kWaitLimitMs);
  run.created = factory.Created();
  // The factory's destructor joins the reporters that outlived the adapter.
}

StressPlan PlanFor(int index, int reporters, int reports) {
  static constexpr StressOutcome kOutcomes[] = {StressOutcome::kSuccess, StressOutcome::kMixed,
                                                StressOutcome::kFailure};
  StressPlan plan;
  plan.outcome = kOutcomes[index % 3];
  plan.reporters = reporters;
  plan.reportsPerReporter = reports;
  plan.reportInline = index % 4 == 1;
  // KVFETCH_STRESS_LENIENT_LIBRARY=1: a library that does not wait for its
  // reports in flight when unregistered; the adapter then depends on its
  // 100 ms grace alone, which an overloaded machine can outlast.
  const char* lenient = std::getenv("KVFETCH_STRESS_LENIENT_LIBRARY");
  plan.unregisterWaits = lenient == nullptr || std::string(lenient) != "1";
  return plan;
}

void ExpectOutcome(const AdapterRun& run) {
  EXPECT_FALSE(run.waitedOut) << "a final report did not wake the caller";
  EXPECT_EQ(run.created, 1);
  const bool succeeded = run.result && run.body == kvtest::StressBody();
  const bool failed = !run.result && run.body == kUntouched;
  switch (run.plan.outcome) {
    case StressOutcome::kSuccess:
      EXPECT_TRUE(succeeded);
      break;
    case StressOutcome::kFailure:
      EXPECT_TRUE(failed);
      break;
    case StressOutcome::kMixed:
      EXPECT_TRUE(succeeded || failed);
      break;
  }
  EXPECT_EQ(run.tally.releases.load(), 1);
  EXPECT_EQ(run.tally.releasedRegistered.load(), 0);
  EXPECT_EQ(run.tally.releasedMidReport.load(), 0);
  EXPECT_EQ(run.tally.reportAfterRelease.load(), 0);
  EXPECT_EQ(run.tally.callbackAfterRelease.load(), 0);
}

TEST(HttpTaskAdapterGetStressTest, ManyReportersRaceTheWakeUpAndTheDestructor) {
  const int adapters = kvtest::StressFigure(24, 200);
  const int reporters = 8;
  const int reports = kvtest::StressFigure(1000, 10000);
  // Each adapter spends 100 ms in its destructor; running a batch at a time
  // keeps the whole run short without thousands of threads alive at once.
  const int batch = kvtest::StressFigure(8, 25);

  std::vector<std::unique_ptr<AdapterRun>> runs;
  for (int i = 0; i < adapters; ++i) {
    runs.push_back(std::make_unique<AdapterRun>());
    runs.back()->plan = PlanFor(i, reporters, reports);
  }
  const auto start = std::chrono::steady_clock::now();
  for (int first = 0; first < adapters; first += batch) {
    std::vector<std::thread> callers;
    for (int i = first; i < std::min(adapters, first + batch); ++i) {
      callers.emplace_back([&run = *runs[i]] { RunOne(run); });
    }
    for (std::thread& caller : callers) caller.join();
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;

  long long delivered = 0;
  int succeeded = 0;
  for (int i = 0; i < adapters; ++i) {
    SCOPED_TRACE("adapter " + std::to_string(i));
    ExpectOutcome(*runs[i]);
    delivered += runs[i]->tally.delivered.load();
    if (runs[i]->result) ++succeeded;
  }
  RecordProperty("adapters", adapters);
  RecordProperty("reports_offered", std::to_string(1LL * adapters * reporters * reports));
  RecordProperty("reports_delivered", std::to_string(delivered));
  std::printf(
      "[ stress   ] %d adapters x %d reporters x %d reports: %lld delivered, "
      "%d succeeded, %lld ms\n",
      adapters, reporters, reports, delivered, succeeded,
      static_cast<long long>(
          std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()));
}

}  // namespace
