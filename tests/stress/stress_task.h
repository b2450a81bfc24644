#pragma once

// A request object that reports from many threads at once, for hammering
// the GET adapter. It keeps the library's side of the contract (no report
// begins once SetCallback(nullptr) was called) and checks the adapter's side:
// Release comes once, after unregistering, with no report still running.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "shared/http_task_base.h"

namespace kvtest {

// Which final reports a task makes once its reporters are half way through.
enum class StressOutcome { kSuccess, kFailure, kMixed };

struct StressPlan {
  StressOutcome outcome = StressOutcome::kSuccess;
  int reporters = 8;
  int reportsPerReporter = 10000;
  // Also reports synchronously inside Start and inside SetCallback(nullptr),
  // on the caller's thread.
  bool reportInline = false;
  // False: unregistering only stops new reports and returns at once, as a
  // library may that trusts its caller's 100 ms grace for reports in flight.
  bool unregisterWaits = true;
};

// What one task saw; read after the adapter has released it.
struct StressTally {
  std::atomic<long long> delivered{0};  // OnTaskResult calls made
  std::atomic<int> releases{0};
  std::atomic<int> releasedRegistered{0};    // Release before SetCallback(nullptr)
  std::atomic<int> releasedMidReport{0};     // Release while a report was running
  std::atomic<int> callbackAfterRelease{0};  // SetCallback after Release
  std::atomic<int> reportAfterRelease{0};    // OnTaskResult began after Release
};

// The body every success report carries; a NUL inside checks that it is
// copied whole.
inline const std::string& StressBody() {
  static const std::string body("{\"appid\":\"stress\"}\0tail of the body", 36);
  return body;
}

class CStressTask final : public CHttpTaskBase {
 public:
  CStressTask(const StressPlan& plan, StressTally& tally) : m_plan(plan), m_tally(tally) {}
  ~CStressTask() { JoinReporters(); }

  CStressTask(const CStressTask&) = delete;
  CStressTask& operator=(const CStressTask&) = delete;

  void SetCallback(IHttpTaskCallback* callback) override {
    if (m_released.load()) ++m_tally.callbackAfterRelease;
    if (callback) {
      m_callback.store(callback);
      return;
    }
    // A library may still deliver a last report while it unregisters.
    if (m_plan.reportInline) Deliver(Final(0, 0));
    m_callback.store(nullptr);
    // Like the stand-in, unregistering returns only once no report is
    // running: each one counted itself in before it read the callback.
    while (m_plan.unregisterWaits && m_inReport.load() != 0) std::this_thread::yield();
  }

  int Start(int /*reserved*/, const wchar_t* /*url*/) override {
    if (m_plan.reportInline) {
      Deliver(Pending(0, 0));
      Deliver(Final(0, 0));
    }
    for (int r = 0; r < m_plan.reporters; ++r) m_threads.emplace_back([this, r] { Hammer(r); });
    return 1;
  }

  void Release() override {
    if (m_callback.load() != nullptr) ++m_tally.releasedRegistered;
    if (m_inReport.load() != 0) ++m_tally.releasedMidReport;
    m_released.store(true);
    ++m_tally.releases;
  }

  int SetOption(const char* /*name*/, int /*value*/) override { return 1; }

  void JoinReporters() {
    for (std::thread& thread : m_threads) thread.join();
    m_threads.clear();
  }

 private:
  struct Report {
    IHttpTask* task;
    TaskResult result;
  };

  void Hammer(int reporter) {
    for (int k = 0; k < m_plan.reportsPerReporter; ++k) {
      if (!Deliver(ReportFor(reporter, k))) return;
    }
  }

  // False once unregistered. Counting the report in before reading the
  // callback means SetCallback(nullptr) sees every report that got it.
  bool Deliver(const Report& report) {
    ++m_inReport;
    IHttpTaskCallback* callback = m_callback.load();
    if (callback) {
      if (m_released.load()) ++m_tally.reportAfterRelease;
      callback->OnTaskResult(report.task, &report.result);
      ++m_tally.delivered;
    }
    --m_inReport;
    return callback != nullptr;
  }

  // The first half of every reporter's run is progress and reports for
  // other tasks, which must not wake the caller; then final reports mix in.
  Report ReportFor(int reporter, int k) const {
    if (k < m_plan.reportsPerReporter / 2 || k % 4 != 3) {
      return k % 3 == 0 ? Foreign(reporter, k) : Pending(reporter, k);
    }
    return Final(reporter, k);
  }

  Report Pending(int reporter, int k) const {
    Report report = Base();
    report.result.state = (reporter + k) % 2 == 0 ? kTaskStatePending : kTaskStateRunning;
    report.result.body = m_foreignBody.data();
    report.result.bodyLength = static_cast<int32_t>(m_foreignBody.size());
    return report;
  }

  // A success for some other task: its body must never become ours.
  Report Foreign(int reporter, int k) const {
    Report report = Pending(reporter, k);
    report.task = reinterpret_cast<IHttpTask*>(const_cast<int*>(&m_other));
    report.result.state = kTaskStateSucceeded;
    return report;
  }

  Report Final(int reporter, int k) const {
    bool success = m_plan.outcome == StressOutcome::kSuccess;
    if (m_plan.outcome == StressOutcome::kMixed) success = (reporter + k / 4) % 2 == 0;
    Report report = Base();
    if (success) {
      report.result.state = kTaskStateSucceeded;
      report.result.body = StressBody().data();
      report.result.bodyLength = static_cast<int32_t>(StressBody().size());
    } else {
      report.result.state = 3 + k % 5;
      report.result.firstError = 12000 + reporter;
      report.result.secondError = k;
    }
    return report;
  }

  Report Base() const {
    Report report = {};
    report.task = const_cast<CStressTask*>(this);
    return report;
  }

  const StressPlan m_plan;
  StressTally& m_tally;
  const std::string m_foreignBody = "not this task's body";
  const int m_other = 0;  // its address stands for a task that is not ours
  std::atomic<IHttpTaskCallback*> m_callback{nullptr};
  std::atomic<int> m_inReport{0};
  std::atomic<bool> m_released{false};
  std::vector<std::thread> m_threads;
};

// Makes one task per CreateTask and keeps it until the factory goes, after
// the adapter has released it, so late reporters never touch freed memory.
class CStressFactory final : public RequestFactory {
 public:
  CStressFactory(const StressPlan& plan, StressTally& tally) : m_plan(plan), m_tally(tally) {}

  IHttpTask* CreateTask() override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_tasks.push_back(std::make_unique<CStressTask>(m_plan, m_tally));
    return m_tasks.back().get();
  }

  int Created() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_tasks.size());
  }

 private:
  const StressPlan m_plan;
  StressTally& m_tally;
  std::mutex m_mutex;
  std::vector<std::unique_ptr<CStressTask>> m_tasks;
};

}  // namespace kvtest
