#include "wirelink_task.h"

#include <cstring>
#include <new>
#include <thread>

namespace {

void RunRequest(std::shared_ptr<CTaskChannel> channel, std::wstring url) {
  const FetchOutcome outcome = FetchUrl(url, channel->Slot());
  channel->Report(outcome);
}

TaskResult ToTaskResult(const FetchOutcome& outcome) {
  return MakeTaskResult(outcome.state, outcome.firstError, outcome.secondError, outcome.body.data(),
                        static_cast<int32_t>(outcome.body.size()));
}

}  // namespace

void CTaskChannel::SetCallback(IHttpTaskCallback* callback) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_callback = callback;
}

void CTaskChannel::Report(const FetchOutcome& outcome) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_task == nullptr || m_callback == nullptr) return;
  const TaskResult result = ToTaskResult(outcome);
  m_callback->OnTaskResult(m_task, &result);
}

void CTaskChannel::Close() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_task = nullptr;
    m_callback = nullptr;
  }
  m_slot.Abort();
}

void CWirelinkTask::SetCallback(IHttpTaskCallback* callback) { m_channel->SetCallback(callback); }

int CWirelinkTask::Start(int /*reserved*/, const wchar_t* url) {
  if (m_started || url == nullptr) return 0;
  // Nothing may escape into a caller built by another compiler.
  try {
    // Detached: Release must not wait for a peer that stalls; the worker owns
    // its share of the channel and ends by itself after the abort.
    std::thread(RunRequest, m_channel, std::wstring(url)).detach();
  } catch (...) {
    return 0;
  }
  m_started = true;
  return 1;
}

void CWirelinkTask::Release() {
  m_channel->Close();
  delete this;
}

int CWirelinkTask::SetOption(const char* name, int value) {
  if (name == nullptr) return 0;
  if (std::strcmp(name, "gzip") == 0) {
    m_gzip = value;
    return 1;
  }
  if (std::strcmp(name, "ungzip") == 0) {
    m_ungzip = value;
    return 1;
  }
  return 0;
}

IHttpTask* CWirelinkFactory::CreateTask() {
  try {
    return new CWirelinkTask;
  } catch (...) {
    return nullptr;
  }
}
