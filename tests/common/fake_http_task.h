#pragma once

// The tests' stand-in for the network library's request objects: a scripted
// task that logs every call made on it and reports as the library does,
// inside Start or later from a thread of its own, and the factory that makes
// them. Portable: the ThreadSanitizer build uses it natively.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/http_task_base.h"

namespace kvtest {

class CFakeHttpTask;

// One report, as OnTaskResult receives it.
struct FakeReport {
  int32_t state = kTaskStateSucceeded;
  int32_t firstError = 0;
  int32_t secondError = 0;
  std::string body;
  std::optional<int32_t> bodyLength;  // unset: body.size()
  bool nullBody = false;
  bool foreignTask = false;  // reported for some other task
  int pauseMs = 0;           // waited first, on the task's thread only
};

// What a task does. The hooks run on the caller's thread, inside the call
// they are named after.
struct FakeScript {
  int startResult = 1;  // 0: Start refuses, reports nothing and runs no hook
  // Played by Start: inside it, or later from a thread of the task's own.
  std::vector<FakeReport> reports;
  bool reportsInsideStart = false;
  // False: SetCallback(nullptr) stops new reports and returns at once,
  // leaving the ones under way to the caller's grace period.
  bool unregisterWaits = true;
  // A misbehaving library: reports still reach the last callback after
  // SetCallback(nullptr).
  bool ignoresUnregister = false;
  std::function<void(CFakeHttpTask&)> onStart;       // after the reports are under way
  std::function<void(CFakeHttpTask&)> onUnregister;  // before SetCallback(nullptr) takes effect
  std::function<void(CFakeHttpTask&)> onRelease;     // once released
};

// Logs each call in order ("SetOption(gzip,0)", "SetCallback(adapter)",
// "Start(0,URL)", "SetCallback(null)", "Release") together with what breaks
// the library's contract ("unexpected Reserved<slot>", "Release during a
// report", "report after Release"), so one comparison checks a caller.
class CFakeHttpTask final : public CHttpTaskBase {
 public:
  explicit CFakeHttpTask(FakeScript script = {}) : m_script(std::move(script)) {}
  ~CFakeHttpTask() { JoinThreads(); }
  CFakeHttpTask(const CFakeHttpTask&) = delete;
  CFakeHttpTask& operator=(const CFakeHttpTask&) = delete;

  void SetCallback(IHttpTaskCallback* callback) override;
  int Start(int reserved, const wchar_t* url) override;
  // Joins the task's threads; the task itself stays for its owner to free.
  void Release() override;
  int SetOption(const char* name, int value) override;

  // Hands a report to the registered callback, as the library's thread does.
  // False once unregistered or released: a reporting loop ends there.
  bool Deliver(const TaskResult& result, bool foreignTask = false);
  bool Deliver(const FakeReport& report);
  // Runs `work` on a new thread of the task's own.
  void RunOnThread(std::function<void(CFakeHttpTask&)> work);

  std::vector<std::string> Calls() const;
  long long Delivered() const { return m_delivered.load(); }

 private:
  int ReservedSlotCalled(int slot) override;
  void Record(const std::string& call);
  void Play();
  bool Pause(int ms);  // false once unregistered or released
  bool Stopped() const { return m_callback.load() == nullptr || m_released.load(); }
  void JoinThreads();

  const FakeScript m_script;
  std::atomic<IHttpTaskCallback*> m_callback{nullptr};
  std::atomic<IHttpTaskCallback*> m_lastCallback{nullptr};
  std::atomic<int> m_inReport{0};  // counted in before reading the callback
  std::atomic<int> m_calling{0};   // of those, the ones that got it
  std::atomic<bool> m_released{false};
  std::atomic<long long> m_delivered{0};
  const int m_other = 0;  // its address stands for a task that is not ours
  mutable std::mutex m_mutex;
  std::condition_variable m_stopped;
  std::vector<std::string> m_calls;
  std::vector<std::thread> m_threads;
};

// Makes a task per CreateTask, each playing `script` (none: CreateTask gives
// null), and keeps them all until it goes, so that no report outliving its
// adapter reaches freed memory. One request at a time, as the program makes.
class CFakeTaskFactory final : public RequestFactory {
 public:
  explicit CFakeTaskFactory(std::optional<FakeScript> script) : m_script(std::move(script)) {}

  IHttpTask* CreateTask() override;
  int Creates() const { return m_creates; }
  // The first task made; throws when there is none.
  CFakeHttpTask& Task() const { return *m_tasks.at(0); }

 private:
  const std::optional<FakeScript> m_script;
  int m_creates = 0;
  std::vector<std::unique_ptr<CFakeHttpTask>> m_tasks;
};

}  // namespace kvtest
