#include "common/fake_http_task.h"

#include <chrono>

namespace kvtest {
namespace {

// The tests' URLs are ASCII; narrowing them keeps this file portable.
std::string Narrow(const wchar_t* text) {
  std::string narrow;
  for (; text && *text; ++text) narrow += static_cast<char>(*text);
  return narrow;
}

}  // namespace

void CFakeHttpTask::SetCallback(IHttpTaskCallback* callback) {
  Record(callback ? "SetCallback(adapter)" : "SetCallback(null)");
  if (callback) {
    m_lastCallback.store(callback);
    m_callback.store(callback);
    return;
  }
  if (m_script.onUnregister) m_script.onUnregister(*this);
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_callback.store(nullptr);
  }
  m_stopped.notify_all();
  // Every report counted itself in before it read the callback, so this
  // sees each one that got it.
  while (m_script.unregisterWaits && m_inReport.load() != 0) std::this_thread::yield();
}

int CFakeHttpTask::Start(int reserved, const wchar_t* url) {
  Record("Start(" + std::to_string(reserved) + "," + Narrow(url) + ")");
  if (m_script.startResult == 0) return 0;
  if (m_script.reportsInsideStart) {
    for (const FakeReport& report : m_script.reports) Deliver(report);
  } else if (!m_script.reports.empty()) {
    RunOnThread([](CFakeHttpTask& task) { task.Play(); });
  }
  if (m_script.onStart) m_script.onStart(*this);
  return m_script.startResult;
}

void CFakeHttpTask::Release() {
  Record("Release");
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_released.store(true);
  }
  // Either this sees a report that got the callback, or that report sees
  // the release (Deliver).
  if (m_calling.load() != 0) Record("Release during a report");
  m_stopped.notify_all();
  JoinThreads();
  if (m_script.onRelease) m_script.onRelease(*this);
}

int CFakeHttpTask::SetOption(const char* name, int value) {
  Record("SetOption(" + std::string(name) + "," + std::to_string(value) + ")");
  return 1;
}

bool CFakeHttpTask::Deliver(const TaskResult& result, bool foreignTask) {
  ++m_inReport;
  IHttpTaskCallback* callback =
      m_script.ignoresUnregister ? m_lastCallback.load() : m_callback.load();
  bool released = false;
  if (callback) {
    ++m_calling;
    released = m_released.load();
    if (released) Record("report after Release");
    IHttpTask* reporter = foreignTask ? reinterpret_cast<IHttpTask*>(const_cast<int*>(&m_other))
                                      : static_cast<IHttpTask*>(this);
    callback->OnTaskResult(reporter, &result);
    ++m_delivered;
    --m_calling;
  }
  --m_inReport;
  return callback != nullptr && !released;
}

bool CFakeHttpTask::Deliver(const FakeReport& report) {
  const int32_t length = report.bodyLength.value_or(static_cast<int32_t>(report.body.size()));
  return Deliver(MakeTaskResult(report.state, report.firstError, report.secondError,
                                report.nullBody ? nullptr : report.body.data(), length),
                 report.foreignTask);
}

void CFakeHttpTask::RunOnThread(std::function<void(CFakeHttpTask&)> work) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_threads.emplace_back([this, work] { work(*this); });
}

std::vector<std::string> CFakeHttpTask::Calls() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_calls;
}

int CFakeHttpTask::ReservedSlotCalled(int slot) {
  Record("unexpected Reserved" + std::to_string(slot));
  return 0;
}

void CFakeHttpTask::Record(const std::string& call) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_calls.push_back(call);
}

void CFakeHttpTask::Play() {
  for (const FakeReport& report : m_script.reports) {
    if (!Pause(report.pauseMs) || !Deliver(report)) return;
  }
}

bool CFakeHttpTask::Pause(int ms) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return !m_stopped.wait_for(lock, std::chrono::milliseconds(ms), [this] { return Stopped(); });
}

void CFakeHttpTask::JoinThreads() {
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    threads.swap(m_threads);
  }
  for (std::thread& thread : threads) thread.join();
}

IHttpTask* CFakeTaskFactory::CreateTask() {
  ++m_creates;
  if (!m_script) return nullptr;
  m_tasks.push_back(std::make_unique<CFakeHttpTask>(*m_script));
  return m_tasks.back().get();
}

}  // namespace kvtest
