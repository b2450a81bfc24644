#pragma once

#include <windows.h>
#include <winhttp.h>

#include <utility>

// Owns one WinHTTP handle (session, connection or request) and closes it once.
class CInternetHandle {
 public:
  CInternetHandle() = default;
  explicit CInternetHandle(HINTERNET handle) : m_handle(handle) {}
  ~CInternetHandle() { Reset(); }

  CInternetHandle(CInternetHandle&& other) noexcept : m_handle(other.Release()) {}
  CInternetHandle& operator=(CInternetHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  CInternetHandle(const CInternetHandle&) = delete;
  CInternetHandle& operator=(const CInternetHandle&) = delete;

  HINTERNET Get() const { return m_handle; }
  explicit operator bool() const { return m_handle != nullptr; }

  HINTERNET Release() { return std::exchange(m_handle, nullptr); }
  void Reset(HINTERNET handle = nullptr) {
    if (m_handle) ::WinHttpCloseHandle(m_handle);
    m_handle = handle;
  }

 private:
  HINTERNET m_handle = nullptr;
};
