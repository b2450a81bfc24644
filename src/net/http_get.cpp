#include "net/http_get.h"

#include "net/net_library.h"

namespace {

// After unregistering, a report that had already begun may still be running
// on the library's thread; this is how long it gets before the task goes.
constexpr DWORD kUnregisterGraceMs = 100;

// The body must arrive as the service sent it: the envelope parser reads
// plain JSON text.
constexpr const char* kOptionUngzip = "ungzip";
constexpr const char* kOptionGzip = "gzip";

// Records outside the library's contract; refused as failures, never
// mistaken for a body.
bool IsMalformedBody(const TaskResult& result) {
  return result.bodyLength < 0 || (result.body == nullptr && result.bodyLength != 0);
}

HttpGetOutcome MakeRequest(CHttpTaskAdapterGet& adapter, RequestFactory* factory,
                           const wchar_t* url, std::string& body, DWORD timeoutMs) {
  if (!factory) return HttpGetOutcome::kNoFactory;
  IHttpTask* task = factory->CreateTask();
  if (!task) return HttpGetOutcome::kNoTask;
  task->SetOption(kOptionUngzip, 0);
  task->SetOption(kOptionGzip, 0);
  adapter.AttachTask(task);

  // No lock is held here: the library may report from inside Start.
  task->SetCallback(&adapter);
  if (task->Start(0, url) == 0) return HttpGetOutcome::kNotStarted;

  if (!adapter.Event()) return HttpGetOutcome::kNoEvent;
  if (::WaitForSingleObject(adapter.Event(), timeoutMs) != WAIT_OBJECT_0) {
    return HttpGetOutcome::kNoAnswer;
  }
  // Woken without a success: only a failure report signals otherwise.
  return adapter.CopyResponse(body) ? HttpGetOutcome::kSucceeded : HttpGetOutcome::kFailed;
}

}  // namespace

CHttpTaskAdapterGet::CHttpTaskAdapterGet()
    : m_event(::CreateEventW(nullptr,      // default security
                             TRUE,         // manual reset: once woken, stays woken
                             FALSE,        // not signalled
                             nullptr)) {}  // unnamed

CHttpTaskAdapterGet::~CHttpTaskAdapterGet() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_destructorThread.store(::GetCurrentThreadId());
  if (m_task) {
    m_task->SetCallback(nullptr);
    ::Sleep(kUnregisterGraceMs);
    m_task.reset();
  }
  m_event.Reset();
}

void CHttpTaskAdapterGet::OnTaskResult(IHttpTask* task, const TaskResult* result) {
  // Thread ids are never 0, so this only matches while the destructor runs.
  if (m_destructorThread.load() == ::GetCurrentThreadId()) return;
  std::unique_lock<std::mutex> lock(m_mutex, std::try_to_lock);
  if (!lock.owns_lock()) return;

  if (!result) return;
  if (result->state == kTaskStatePending || result->state == kTaskStateRunning) return;
  if (task != m_task.get()) return;

  if (result->state == kTaskStateSucceeded && !IsMalformedBody(*result)) {
    RecordSuccess(*result);
  } else {
    RecordFailure(*result);
  }
  if (m_event) ::SetEvent(m_event.Get());
}

void CHttpTaskAdapterGet::AttachTask(IHttpTask* task) {
  m_task = std::shared_ptr<IHttpTask>(task, HttpTaskDeletor());
}

bool CHttpTaskAdapterGet::CopyResponse(std::string& body) {
  // Blocking is fine: reports only try-lock, so a late one is dropped
  // instead of rewriting the text while it is copied.
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_success == 0) return false;
  body = m_response;
  return true;
}

HttpGetFailure CHttpTaskAdapterGet::Failure() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_failure;
}

void CHttpTaskAdapterGet::RecordSuccess(const TaskResult& result) {
  // Copy first: if it throws, the flag must not announce a body we lack.
  if (result.bodyLength == 0) {
    m_response.clear();
  } else {
    m_response.assign(result.body, static_cast<size_t>(result.bodyLength));
  }
  m_success = 1;
}

void CHttpTaskAdapterGet::RecordFailure(const TaskResult& result) {
  HttpGetFailure failure;
  failure.reported = true;
  failure.firstError = result.firstError;
  failure.secondError = result.secondError;
  if (result.state == kTaskStateSucceeded) failure.bodyLength = result.bodyLength;
  m_failure = failure;
}

std::string HttpGetFailure::Text() const {
  if (!reported) return std::string();
  // A success without a usable body; the numbers would read as a real error.
  if (bodyLength) return "err_body_" + std::to_string(*bodyLength);
  return "err_" + std::to_string(firstError) + "_" + std::to_string(secondError);
}

bool HttpGet(RequestFactory* factory, const wchar_t* url, std::string& body, DWORD timeoutMs,
             HttpGetReport* report) {
  // The adapter's destructor runs before this returns, on every path, so the
  // task never outlives the call.
  auto adapter = std::make_shared<CHttpTaskAdapterGet>();
  const HttpGetOutcome outcome = MakeRequest(*adapter, factory, url, body, timeoutMs);
  if (report) {
    report->outcome = outcome;
    // Read while the adapter still lives: the record goes with it.
    report->failure = adapter->Failure();
  }
  return outcome == HttpGetOutcome::kSucceeded;
}

bool HttpGet(const wchar_t* url, std::string& body) {
  return HttpGet(NetLibrary::Instance().Factory(), url, body, kHttpGetTimeoutMs);
}
