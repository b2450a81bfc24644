// A network library whose every outcome is scripted (see fake_script.h), for
// the reports a real server cannot provoke. It honours the same contract as
// the stand-in: reports hold the lock, so none is under way or begins once
// SetCallback(nullptr) or Release has returned.
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "fake_network_library/fake_script.h"
#include "shared/http_task_base.h"
#include "net/net_exports.h"
#include "network-library/refusing_exports.h"

namespace {

constexpr wchar_t kScriptName[] = L"fake_network.txt";

std::filesystem::path ScriptPath() {
  HMODULE self = nullptr;
  ::GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&ScriptPath), &self);
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(self, path, MAX_PATH);
  return std::filesystem::path(path).parent_path() / kScriptName;
}

class CScriptedTask final : public CHttpTaskBase {
 public:
  void SetCallback(IHttpTaskCallback* callback) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_callback = callback;
  }

  int Start(int /*reserved*/, const wchar_t* /*url*/) override {
    m_script = LoadFakeScript(ScriptPath());
    if (m_script.startResult == 0) return 0;
    if (m_script.inlineReports) {
      for (const FakeReport& report : m_script.reports) Report(report);
    } else {
      m_worker = std::thread([this] { Play(); });
    }
    return m_script.startResult;
  }

  void Release() override {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_callback = nullptr;
      m_released = true;
    }
    m_wake.notify_all();
    if (m_worker.joinable()) m_worker.join();
    delete this;
  }

  int SetOption(const char* /*name*/, int /*value*/) override { return 1; }

 private:
  ~CScriptedTask() = default;

  void Play() {
    for (const FakeReport& report : m_script.reports) {
      std::unique_lock<std::mutex> lock(m_mutex);
      if (m_wake.wait_for(lock, std::chrono::milliseconds(report.pauseMs),
                          [this] { return m_released; })) {
        return;
      }
      lock.unlock();
      Report(report);
    }
  }

  void Report(const FakeReport& report) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_callback == nullptr) return;
    const TaskResult result =
        MakeTaskResult(report.state, report.firstError, report.secondError, report.body.data(),
                       static_cast<int32_t>(report.body.size()));
    m_callback->OnTaskResult(this, &result);
  }

  std::mutex m_mutex;
  std::condition_variable m_wake;
  IHttpTaskCallback* m_callback = nullptr;
  bool m_released = false;
  FakeScript m_script;
  std::thread m_worker;
};

class CScriptedFactory final : public RequestFactory {
 public:
  IHttpTask* CreateTask() override { return new CScriptedTask; }
};

}  // namespace

extern "C" {

RequestFactory* __cdecl HttpInit() {
  static CScriptedFactory factory;
  return &factory;
}

}  // extern "C"
