#pragma once

// In-process stand-ins for the network library's request objects: they
// record what the adapter calls and let a test decide how and from which
// thread reports arrive.

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "shared/http_task_base.h"
#include "shared/utf8.h"

namespace kvtest {

struct ReportPlan {
  int32_t state = kTaskStateSucceeded;
  std::string body;
  std::optional<int32_t> bodyLength;  // unset: body.size()
  bool nullBody = false;
  int32_t firstError = 0;
  int32_t secondError = 0;
  bool foreignTask = false;  // reported for some other task
};

class CRecordingTask final : public CHttpTaskBase {
 public:
  ~CRecordingTask() { JoinThreads(); }

  void SetCallback(IHttpTaskCallback* callback) override {
    Record(callback ? "SetCallback(adapter)" : "SetCallback(null)");
    if (callback) {
      m_lastCallback = callback;
      m_callback.store(callback);
      return;
    }
    m_callback.store(nullptr);
    if (onUnregister) onUnregister(*this);
  }
  int Start(int reserved, const wchar_t* url) override {
    Record("Start(" + std::to_string(reserved) + "," + Utf8(url ? url : L"") + ")");
    if (onStart) onStart(*this);
    return startResult;
  }
  void Release() override {
    Record("Release");
    ++m_releases;
    if (onRelease) onRelease(*this);
  }
  int SetOption(const char* name, int value) override {
    Record("SetOption(" + std::string(name) + "," + std::to_string(value) + ")");
    return 1;
  }

  // Reports to the registered callback, as the library's thread would; does
  // nothing once unregistered. `viaLast` reaches the callback even after
  // unregistering, as a misbehaving library might.
  void Report(const ReportPlan& plan, bool viaLast = false) {
    IHttpTaskCallback* callback = viaLast ? m_lastCallback : m_callback.load();
    if (!callback) return;
    const TaskResult result = MakeTaskResult(
        plan.state, plan.firstError, plan.secondError, plan.nullBody ? nullptr : plan.body.data(),
        plan.bodyLength.value_or(static_cast<int32_t>(plan.body.size())));
    IHttpTask* reporter = plan.foreignTask ? reinterpret_cast<IHttpTask*>(&m_other) : this;
    callback->OnTaskResult(reporter, &result);
  }

  void ReportLater(std::function<void(CRecordingTask&)> work) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_threads.emplace_back([this, work] { work(*this); });
  }
  void JoinThreads() {
    std::vector<std::thread> threads;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      threads.swap(m_threads);
    }
    for (std::thread& thread : threads) thread.join();
  }

  bool IsRegistered() const { return m_callback.load() != nullptr; }
  int Releases() const { return m_releases.load(); }
  std::vector<std::string> Calls() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
  }

  int startResult = 1;
  std::function<void(CRecordingTask&)> onStart;
  std::function<void(CRecordingTask&)> onUnregister;
  std::function<void(CRecordingTask&)> onRelease;

 private:
  int ReservedSlotCalled(int slot) override {
    Record("unexpected Reserved" + std::to_string(slot));
    return 0;
  }
  void Record(const std::string& call) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.push_back(call);
  }

  std::atomic<IHttpTaskCallback*> m_callback{nullptr};
  IHttpTaskCallback* m_lastCallback = nullptr;
  std::atomic<int> m_releases{0};
  int m_other = 0;  // its address stands for a task that is not ours
  std::mutex m_mutex;
  std::vector<std::string> m_calls;
  std::vector<std::thread> m_threads;
};

class CRecordingFactory final : public RequestFactory {
 public:
  explicit CRecordingFactory(IHttpTask* task) : m_task(task) {}
  IHttpTask* CreateTask() override {
    ++m_creates;
    return m_task;
  }
  int Creates() const { return m_creates; }

 private:
  IHttpTask* m_task;
  int m_creates = 0;
};

}  // namespace kvtest
