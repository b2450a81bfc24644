#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "common/fake_http_task.h"
#include "common/test_support.h"
#include "net/http_get.h"

namespace {

using kvtest::CFakeHttpTask;
using kvtest::CFakeTaskFactory;
using kvtest::FakeReport;
using kvtest::FakeScript;

constexpr const wchar_t* kUrl = L"http://127.0.0.1/live/vip/getKvConfig";
// Long enough that only a missing wake-up can reach it, even on a slow machine.
const DWORD kLongWaitMs = kvtest::ScaledMs(20000);
constexpr DWORD kShortWaitMs = 300;

struct Outcome {
  bool result;
  std::string body;
  double seconds;
};

Outcome Fetch(RequestFactory* factory, DWORD timeoutMs, std::string body = "untouched") {
  const auto start = std::chrono::steady_clock::now();
  const bool result = HttpGet(factory, kUrl, body, timeoutMs);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  return {result, body, elapsed.count()};
}

FakeReport Success(std::string body) {
  FakeReport report;
  report.body = std::move(body);
  return report;
}

FakeReport Failure(int32_t state, int32_t first, int32_t second) {
  FakeReport report;
  report.state = state;
  report.firstError = first;
  report.secondError = second;
  return report;
}

// Reports made inside Start, on the caller's thread.
FakeScript Inline(std::vector<FakeReport> reports) {
  FakeScript script;
  script.reports = std::move(reports);
  script.reportsInsideStart = true;
  return script;
}

// Whatever the outcome, the task is set up, started, unregistered and
// released once, in this order.
std::vector<std::string> CallsInOrder() {
  return {"SetOption(ungzip,0)",  "SetOption(gzip,0)",
          "SetCallback(adapter)", "Start(0,http://127.0.0.1/live/vip/getKvConfig)",
          "SetCallback(null)",    "Release"};
}

TEST(HttpTaskAdapterGetTest, CallsTheTaskInOrderAndReleasesItOnce) {
  CFakeTaskFactory factory(Inline({Success("{}")}));

  const Outcome outcome = Fetch(&factory, kLongWaitMs);

  EXPECT_TRUE(outcome.result);
  EXPECT_EQ(outcome.body, "{}");
  EXPECT_EQ(factory.Creates(), 1);
  EXPECT_EQ(factory.Task().Calls(), CallsInOrder());
}

TEST(HttpTaskAdapterGetTest, OutcomeFollowsTheFinalReports) {
  FakeReport foreign = Success("not ours");
  foreign.foreignTask = true;
  FakeReport emptyNullBody;
  emptyNullBody.nullBody = true;
  FakeReport negativeLength = Success("abc");
  negativeLength.bodyLength = -3;
  FakeReport nullWithLength;
  nullWithLength.nullBody = true;
  nullWithLength.bodyLength = 4;

  struct Case {
    const char* name;
    std::vector<FakeReport> reports;
    DWORD timeoutMs;
    bool expected;
    std::string body;
    bool wakesAtOnce;
  };
  const Case cases[] = {
      // A final success carries the body byte for byte.
      {"success", {Success("{\"errno\":0}")}, kLongWaitMs, true, "{\"errno\":0}", true},
      {"nul bytes",
       {Success(std::string("a\0b\0", 4))},
       kLongWaitMs,
       true,
       std::string("a\0b\0", 4),
       true},
      {"empty body", {Success("")}, kLongWaitMs, true, "", true},
      {"empty null body", {emptyNullBody}, kLongWaitMs, true, "", true},
      // The first success stands; a later failure changes nothing.
      {"success then failure",
       {Success("first"), Failure(3, 12, 0)},
       kLongWaitMs,
       true,
       "first",
       true},
      {"success twice", {Success("first"), Success("second")}, kLongWaitMs, true, "second", true},
      // Failures wake the caller at once and leave the body alone.
      {"failure", {Failure(3, 12002, 5)}, kLongWaitMs, false, "untouched", true},
      {"negative state", {Failure(-1, 0, 0)}, kLongWaitMs, false, "untouched", true},
      {"negative length", {negativeLength}, kLongWaitMs, false, "untouched", true},
      {"null body with length", {nullWithLength}, kLongWaitMs, false, "untouched", true},
      {"malformed then success", {negativeLength, Success("ok")}, kLongWaitMs, true, "ok", true},
      // Progress reports and other tasks' reports never wake the caller.
      {"pending", {Failure(0, 0, 0), Failure(1, 0, 0)}, kShortWaitMs, false, "untouched", false},
      {"other task", {foreign}, kShortWaitMs, false, "untouched", false},
      {"nothing", {}, kShortWaitMs, false, "untouched", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CFakeTaskFactory factory(Inline(c.reports));

    const Outcome outcome = Fetch(&factory, c.timeoutMs);

    EXPECT_EQ(outcome.result, c.expected);
    EXPECT_EQ(outcome.body, c.body);
    if (c.wakesAtOnce) {
      EXPECT_LT(outcome.seconds, kLongWaitMs / 2000.0);
    }
    EXPECT_EQ(factory.Task().Calls(), CallsInOrder());
  }
}

TEST(HttpTaskAdapterGetTest, ReportFromTheLibraryThreadWakesTheCaller) {
  FakeScript script;
  script.reports = {Failure(1, 0, 0), Success("late but in time")};
  script.reports[0].pauseMs = 50;
  CFakeTaskFactory factory(script);

  const Outcome outcome = Fetch(&factory, kLongWaitMs);

  EXPECT_TRUE(outcome.result);
  EXPECT_EQ(outcome.body, "late but in time");
  EXPECT_LT(outcome.seconds, kLongWaitMs / 2000.0);
}

TEST(HttpTaskAdapterGetTest, FailsWithoutWaitingWhenNoRequestIsStarted) {
  // No factory: nothing is made.
  EXPECT_FALSE(Fetch(nullptr, kLongWaitMs).result);

  // No task: nothing to release.
  CFakeTaskFactory noTask(std::nullopt);
  const Outcome noTaskOutcome = Fetch(&noTask, kLongWaitMs);
  EXPECT_FALSE(noTaskOutcome.result);
  EXPECT_EQ(noTaskOutcome.body, "untouched");
  EXPECT_EQ(noTask.Creates(), 1);

  // Start refused: the task is still unregistered and released.
  FakeScript refusing;
  refusing.startResult = 0;
  CFakeTaskFactory factory(refusing);
  const Outcome refused = Fetch(&factory, kLongWaitMs);
  EXPECT_FALSE(refused.result);
  EXPECT_LT(refused.seconds, kLongWaitMs / 2000.0);
  EXPECT_EQ(factory.Task().Calls(), CallsInOrder());
}

TEST(HttpTaskAdapterGetTest, HolderWithoutLibraryGivesFalse) {
  // Nothing in this process initialised the network library.
  std::string body = "untouched";
  EXPECT_FALSE(HttpGet(kUrl, body));
  EXPECT_EQ(body, "untouched");
}

TEST(HttpTaskAdapterGetTest, FailureCarriesBothErrorNumbersAndTheirText) {
  struct Case {
    FakeReport report;
    const char* text;
    std::optional<int32_t> bodyLength;
  };
  FakeReport negativeLength = Success("abc");
  negativeLength.bodyLength = -7;
  const Case cases[] = {
      {Failure(3, 12002, 5), "err_12002_5", std::nullopt},
      {Failure(-4, -1, -2147483647 - 1), "err_-1_-2147483648", std::nullopt},
      {Failure(7, 0, 0), "err_0_0", std::nullopt},
      {negativeLength, "err_body_-7", -7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    CFakeHttpTask task;
    CHttpTaskAdapterGet adapter;
    adapter.AttachTask(&task);
    task.SetCallback(&adapter);

    task.Deliver(c.report);

    const HttpGetFailure failure = adapter.Failure();
    EXPECT_TRUE(failure.reported);
    EXPECT_EQ(failure.Text(), c.text);
    EXPECT_EQ(failure.firstError, c.report.firstError);
    EXPECT_EQ(failure.secondError, c.report.secondError);
    EXPECT_EQ(failure.bodyLength, c.bodyLength);
    EXPECT_EQ(::WaitForSingleObject(adapter.Event(), 0), WAIT_OBJECT_0);
    std::string body = "untouched";
    EXPECT_FALSE(adapter.CopyResponse(body));
    EXPECT_EQ(body, "untouched");
  }
}

TEST(HttpTaskAdapterGetTest, ReportsRacingTheDestructorAreDropped) {
  constexpr int kReporters = 4;
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    FakeScript script;
    script.onStart = [](CFakeHttpTask& task) {
      for (int i = 0; i < kReporters; ++i) {
        task.RunOnThread([i](CFakeHttpTask& self) {
          // Keep reporting until unregistered, so some reports land while
          // the destructor holds the adapter.
          const FakeReport report = i % 2 ? Success("same") : Failure(1, 0, 0);
          bool registered = true;
          while (registered) registered = self.Deliver(report);
        });
      }
    };
    CFakeTaskFactory factory(script);

    const Outcome outcome = Fetch(&factory, kLongWaitMs);

    EXPECT_TRUE(outcome.result);
    EXPECT_EQ(outcome.body, "same");
    EXPECT_EQ(factory.Task().Calls(), CallsInOrder());
  }
}

TEST(HttpTaskAdapterGetTest, ReportOnTheDestructorsThreadIsDropped) {
  // A library that reports synchronously while being unregistered or
  // released, on the thread that is tearing the adapter down.
  FakeScript script = Inline({Success("first")});
  script.ignoresUnregister = true;
  script.onUnregister = [](CFakeHttpTask& t) { t.Deliver(Success("during unregister")); };
  script.onRelease = [](CFakeHttpTask& t) { t.Deliver(Failure(3, 1, 2)); };
  CFakeTaskFactory factory(script);

  const Outcome outcome = Fetch(&factory, kLongWaitMs);

  EXPECT_TRUE(outcome.result);
  EXPECT_EQ(outcome.body, "first");
  std::vector<std::string> calls = CallsInOrder();
  calls.push_back("report after Release");  // the one made inside Release
  EXPECT_EQ(factory.Task().Calls(), calls);
}

}  // namespace
