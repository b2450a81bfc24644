#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "net/http_task.h"
#include "win/unique_handle.h"

// What the adapter keeps of the last failure report.
struct HttpGetFailure {
  bool reported = false;
  // The report's two error numbers, in the order its text gives them.
  int32_t firstError = 0;
  int32_t secondError = 0;
  // The body length of a success report whose body could not be used; the
  // text then gives this instead of the numbers.
  std::optional<int32_t> bodyLength;

  // kvfetch's own text for the failure; empty when none was reported.
  std::string Text() const;
};

// Turns one asynchronous IHttpTask into a blocking call. One adapter serves
// one request and lives for one HttpGet call. The constructor, the destructor
// and every member except OnTaskResult run on the caller's thread;
// OnTaskResult runs on whichever thread the library reports from.
class CHttpTaskAdapterGet final : public IHttpTaskCallback {
 public:
  CHttpTaskAdapterGet();
  // Unregisters from the task, gives reports already under way 100 ms to
  // finish, then hands the task back to the library.
  ~CHttpTaskAdapterGet();

  CHttpTaskAdapterGet(const CHttpTaskAdapterGet&) = delete;
  CHttpTaskAdapterGet& operator=(const CHttpTaskAdapterGet&) = delete;

  // Records the outcome of a final report for our own task and wakes the
  // caller. Never waits: a report that finds the adapter busy is dropped.
  void OnTaskResult(IHttpTask* task, const TaskResult* result) override;

  // Takes ownership of a task made by the library; it is released through
  // HttpTaskDeletor, also when this call throws.
  void AttachTask(IHttpTask* task);
  // Manual-reset, signalled by the first final report; null if it could not
  // be created.
  HANDLE Event() const { return m_event.Get(); }

  // After a success report: copies its body into `body` and returns true.
  // Otherwise leaves `body` alone and returns false.
  [[nodiscard]] bool CopyResponse(std::string& body);
  // The last failure report; not `reported` if there was none.
  HttpGetFailure Failure();

 private:
  void RecordSuccess(const TaskResult& result);
  void RecordFailure(const TaskResult& result);

  std::shared_ptr<IHttpTask> m_task;
  int32_t m_success = 0;  // goes from 0 to 1 only
  CUniqueHandle m_event;
  std::string m_response;
  HttpGetFailure m_failure;
  std::mutex m_mutex;
  // The thread that holds m_mutex in the destructor. A library may report
  // synchronously from inside SetCallback(nullptr) or Release on that thread,
  // and try-locking a mutex the thread already owns is undefined.
  std::atomic<DWORD> m_destructorThread{0};
};

// The longest HttpGet waits for the library's final report. The service
// answers within seconds; 30 s covers a slow network without letting the
// calling process hang.
inline constexpr DWORD kHttpGetTimeoutMs = 30000;

// Why a request ended as it did, in the order HttpGet can stop.
enum class HttpGetOutcome {
  kSucceeded,
  kNoFactory,   // no network library held, or it gave no factory
  kNoTask,      // CreateTask returned null
  kNotStarted,  // Start returned 0
  kNoEvent,     // the adapter's event could not be made
  kNoAnswer,    // no final report within the limit (or the wait failed)
  kFailed,      // a failure report; `failure` says which
};

// What one HttpGet saw, for tools that explain a run.
struct HttpGetReport {
  HttpGetOutcome outcome = HttpGetOutcome::kNoFactory;
  // The last failure report, whatever the outcome.
  HttpGetFailure failure;
};

// Fetches `url` through the network library's request factory. True only when
// the library reported success for this request within 30 seconds; then
// `body` holds the response byte for byte. On false `body` is untouched.
[[nodiscard]] bool HttpGet(const wchar_t* url, std::string& body);

// The same with the factory and the wait limit given (the run passes the
// holder's factory and kHttpGetTimeoutMs), also saying why it ended in
// `report` when one is given. The result and `body` are exactly as above.
[[nodiscard]] bool HttpGet(RequestFactory* factory, const wchar_t* url, std::string& body,
                           DWORD timeoutMs, HttpGetReport* report = nullptr);
