#pragma once

#include <windows.h>

#include <utility>

// Owns one kernel handle and closes it once. Null means "no handle": the
// calls this project uses (CreateEventW, CreateThread) report failure with
// null. For CreateFileW, convert INVALID_HANDLE_VALUE with FromFile.
class CUniqueHandle {
 public:
  CUniqueHandle() = default;
  explicit CUniqueHandle(HANDLE handle) : m_handle(handle) {}
  ~CUniqueHandle() { Reset(); }

  CUniqueHandle(CUniqueHandle&& other) noexcept : m_handle(other.Release()) {}
  CUniqueHandle& operator=(CUniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  CUniqueHandle(const CUniqueHandle&) = delete;
  CUniqueHandle& operator=(const CUniqueHandle&) = delete;

  static CUniqueHandle FromFile(HANDLE handle) {
    return CUniqueHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
  }

  HANDLE Get() const { return m_handle; }
  explicit operator bool() const { return m_handle != nullptr; }

  HANDLE Release() { return std::exchange(m_handle, nullptr); }
  void Reset(HANDLE handle = nullptr) {
    if (m_handle) ::CloseHandle(m_handle);
    m_handle = handle;
  }

 private:
  HANDLE m_handle = nullptr;
};
