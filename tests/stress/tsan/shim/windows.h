#pragma once

// The kernel calls the GET adapter makes, and the types its headers
// name, over the standard library, so that the adapter's own source builds
// natively and ThreadSanitizer can see every synchronisation it relies on.
// Only the semantics the adapter uses are kept: a manual-reset event that
// stays signalled, a bounded wait, and thread ids that are never 0.
// Test-only: this folder is first on the include path of the TSan build.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

// Calling conventions mean nothing on x86_64; the headers still spell them.
#define __cdecl

using BOOL = int;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using HANDLE = void*;
using HMODULE = void*;
using LPSECURITY_ATTRIBUTES = void*;

#define TRUE 1
#define FALSE 0
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(-1))
#define ERROR_SUCCESS 0u

namespace kvshim {

class CEvent {
 public:
  explicit CEvent(bool signalled) : m_signalled(signalled) {}

  void Set() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_signalled = true;
    m_changed.notify_all();
  }

  bool Wait(DWORD timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto ready = [this] { return m_signalled; };
    if (timeoutMs == INFINITE) {
      m_changed.wait(lock, ready);
      return true;
    }
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_signalled;
};

}  // namespace kvshim

// Only manual-reset events exist here; the adapter asks for nothing else.
inline HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL, BOOL initialState, const wchar_t*) {
  return new kvshim::CEvent(initialState != FALSE);
}

inline BOOL SetEvent(HANDLE event) {
  if (!event) return FALSE;
  static_cast<kvshim::CEvent*>(event)->Set();
  return TRUE;
}

inline DWORD WaitForSingleObject(HANDLE event, DWORD timeoutMs) {
  if (!event) return WAIT_FAILED;
  return static_cast<kvshim::CEvent*>(event)->Wait(timeoutMs) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

inline BOOL CloseHandle(HANDLE event) {
  if (!event || event == INVALID_HANDLE_VALUE) return FALSE;
  delete static_cast<kvshim::CEvent*>(event);
  return TRUE;
}

inline void Sleep(DWORD milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// The handle owner keeps the thread's last error across its close.
inline DWORD& LastErrorSlot() {
  thread_local DWORD error = ERROR_SUCCESS;
  return error;
}
inline DWORD GetLastError() { return LastErrorSlot(); }
inline void SetLastError(DWORD error) { LastErrorSlot() = error; }

// Numbered from 1 in the order threads first ask, so 0 never names a thread.
inline DWORD GetCurrentThreadId() {
  static std::atomic<DWORD> next{0};
  thread_local const DWORD id = ++next;
  return id;
}
