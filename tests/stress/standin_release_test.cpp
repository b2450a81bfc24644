// The stand-in network library in-process, with a thousand requests released
// while they are still under way: nothing may report once unregistered, and
// the process must end up with the handles and threads it started with.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "common/test_support.h"
#include "common/wirelink_standin.h"
#include "net/http_task.h"
#include "process_census.h"
#include "stress_scale.h"

namespace {

using kvtest::CLoopbackHttpServer;

// Workers of released tasks wind down on their own; a stalled one is bounded
// by the stand-in's 20 s per phase, so this only runs out on a real leak.
const auto kSettleLimit = std::chrono::milliseconds(kvtest::ScaledMs(150000));

// The thread library under the C++ runtime gives a global lock its event the
// first time two threads contend for it, and keeps it for the life of the
// process; Wine does the same with some objects of its own. When that first
// happens is down to timing, so a run may end holding one or two handles the
// warm-up did not leave. A leak in the release path grows with the requests.
constexpr size_t kOncePerProcessHandles = 2;

// Counts reports, and those that came after SetCallback(nullptr) returned.
class CLateReportRecorder final : public IHttpTaskCallback {
 public:
  void OnTaskResult(IHttpTask* /*task*/, const TaskResult* /*result*/) override {
    ++m_reports;
    if (m_unregistered.load()) ++m_late;
  }
  void MarkUnregistered() { m_unregistered.store(true); }
  int Reports() const { return m_reports.load(); }
  int Late() const { return m_late.load(); }

 private:
  std::atomic<bool> m_unregistered{false};
  std::atomic<int> m_reports{0};
  std::atomic<int> m_late{0};
};

// Polls until the threads are back at `threads` (every worker gone, the
// stand-in's and WinHTTP's own) and the handles at `handles` or below, or
// the limit.
kvtest::ProcessCensus Settle(DWORD threads, size_t handles) {
  const auto deadline = std::chrono::steady_clock::now() + kSettleLimit;
  kvtest::ProcessCensus now = kvtest::TakeCensus();
  while ((now.threads > threads || now.handles.size() > handles) &&
         std::chrono::steady_clock::now() < deadline) {
    ::Sleep(200);
    now = kvtest::TakeCensus();
  }
  return now;
}

// Starts `count` tasks against one server and releases each one mid-flight:
// at once, or after the request had a few moments to get going.
void ReleaseBatch(RequestFactory* factory, int count, bool hang,
                  std::vector<std::unique_ptr<CLateReportRecorder>>& recorders, int& notStarted) {
  constexpr DWORD kReleaseDelaysMs[] = {0, 0, 1, 3, 10};
  // A hanging server holds its first exchange open and leaves the rest
  // waiting to connect; its going ends them all.
  CLoopbackHttpServer server({200, "{\"errno\":0,\"data\":\"\"}", hang});
  const std::wstring url = kvtest::ServiceUrlFor(server.Port());
  for (int i = 0; i < count; ++i) {
    recorders.push_back(std::make_unique<CLateReportRecorder>());
    CLateReportRecorder& recorder = *recorders.back();
    IHttpTask* task = factory->CreateTask();
    ASSERT_NE(task, nullptr);
    task->SetOption("ungzip", 0);
    task->SetOption("gzip", 0);
    task->SetCallback(&recorder);
    if (task->Start(0, url.c_str()) == 0) ++notStarted;
    ::Sleep(kReleaseDelaysMs[i % 5]);
    task->SetCallback(nullptr);
    recorder.MarkUnregistered();
    task->Release();
  }
}

TEST(StandInReleaseStressTest, ReleasedMidFlightLeavesNothingBehind) {
  const int tasks = kvtest::StressFigure(200, 1000);
  // Tasks of a batch share one server, half of them one that hangs.
  constexpr int kBatch = 100;

  const kvtest::ProcessCensus initial = kvtest::TakeCensus();
  ASSERT_FALSE(initial.handles.empty()) << "no way to list this process's handles";
  ASSERT_NE(initial.threads, 0u) << "no way to count this process's threads";
  RequestFactory* factory = kvtest::StandInFactory();
  ASSERT_NE(factory, nullptr);
  std::vector<std::unique_ptr<CLateReportRecorder>> recorders;
  int notStarted = 0;
  // One batch of each kind first: WinHTTP, Winsock, the thread pool and the
  // runtime set up what they keep for the life of the process.
  ReleaseBatch(factory, kBatch, true, recorders, notStarted);
  ReleaseBatch(factory, kBatch, false, recorders, notStarted);
  const kvtest::ProcessCensus baseline = Settle(initial.threads, SIZE_MAX);

  const size_t warmUps = recorders.size();
  const auto start = std::chrono::steady_clock::now();
  for (int first = 0; first < tasks; first += kBatch) {
    ReleaseBatch(factory, std::min(kBatch, tasks - first), (first / kBatch) % 2 == 0, recorders,
                 notStarted);
  }
  const auto released = std::chrono::steady_clock::now();
  const kvtest::ProcessCensus peak = kvtest::TakeCensus();
  const kvtest::ProcessCensus after =
      Settle(initial.threads, baseline.handles.size() + kOncePerProcessHandles);
  const auto settled = std::chrono::steady_clock::now();

  int reports = 0;
  int late = 0;
  for (size_t i = 0; i < recorders.size(); ++i) {
    if (i >= warmUps) reports += recorders[i]->Reports();
    late += recorders[i]->Late();
  }
  using std::chrono::duration_cast;
  using std::chrono::milliseconds;
  std::printf(
      "[ release  ] %d tasks released mid-flight in %lld ms, settled %lld ms later; "
      "%d reported before unregistering, %d late; handles %zu -> %zu (peak %zu), "
      "threads %lu -> %lu (peak %lu, %lu before the first request)\n",
      tasks, static_cast<long long>(duration_cast<milliseconds>(released - start).count()),
      static_cast<long long>(duration_cast<milliseconds>(settled - released).count()), reports,
      late, baseline.handles.size(), after.handles.size(), peak.handles.size(), baseline.threads,
      after.threads, peak.threads, initial.threads);
  const std::string leftOver = kvtest::DescribeNewHandles(baseline, after);
  if (!leftOver.empty()) std::printf("[ release  ] held now and not before:\n%s", leftOver.c_str());
  EXPECT_EQ(notStarted, 0);
  EXPECT_EQ(late, 0);
  EXPECT_LE(after.handles.size(), baseline.handles.size() + kOncePerProcessHandles);
  EXPECT_LE(after.threads, initial.threads);
}

}  // namespace
