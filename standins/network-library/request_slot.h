#pragma once

#include <windows.h>
#include <winhttp.h>

#include <mutex>

// Where a task's worker parks its open WinHTTP request while the blocking
// calls run, so that Release on another thread can close it: closing a
// request handle makes the synchronous call that is using it fail at once.
class CRequestSlot {
 public:
  // Takes the request over, unless the task was aborted first; then the
  // caller keeps it (and closes it) and should give up.
  bool Hold(HINTERNET request);
  // Hands the request back for closing; null when Abort already closed it.
  HINTERNET Return();
  // Closes the held request, if any, and refuses every later Hold.
  void Abort();

 private:
  std::mutex m_mutex;
  HINTERNET m_request = nullptr;
  bool m_aborted = false;
};
