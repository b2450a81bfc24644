#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "support/http_task_base.h"
#include "request_slot.h"
#include "winhttp_fetch.h"

// What a task shares with its worker thread. The worker keeps it alive after
// the task itself is released, so an aborted request can wind down on its own.
class CTaskChannel {
 public:
  explicit CTaskChannel(IHttpTask* task) : m_task(task) {}

  void SetCallback(IHttpTaskCallback* callback);
  // Reports an outcome to the registered callback, holding the lock for the
  // whole call: once SetCallback(nullptr) or Close returns, no report is in
  // progress and none can begin.
  void Report(const FetchOutcome& outcome);
  // The task is gone: no more reports, and the request in flight is aborted.
  void Close();

  CRequestSlot& Slot() { return m_slot; }

 private:
  std::mutex m_mutex;
  IHttpTask* m_task;  // null once the task is released
  IHttpTaskCallback* m_callback = nullptr;
  CRequestSlot m_slot;
};

// One asynchronous GET. Start hands the request to a thread of its own and
// returns at once; the outcome reaches the callback from that thread.
class CWirelinkTask final : public CHttpTaskBase {
 public:
  CWirelinkTask() : m_channel(std::make_shared<CTaskChannel>(this)) {}
  CWirelinkTask(const CWirelinkTask&) = delete;
  CWirelinkTask& operator=(const CWirelinkTask&) = delete;

  void SetCallback(IHttpTaskCallback* callback) override;
  int Start(int reserved, const wchar_t* url) override;
  void Release() override;
  int SetOption(const char* name, int value) override;

 private:
  ~CWirelinkTask() = default;

  std::shared_ptr<CTaskChannel> m_channel;
  bool m_started = false;
  // Stored only: the stand-in asks for no compression, so there is nothing
  // to undo whatever these say.
  int m_gzip = 0;
  int m_ungzip = 0;
};

// Hands out tasks; stateless, one per process.
class CWirelinkFactory final : public RequestFactory {
 public:
  IHttpTask* CreateTask() override;
};
