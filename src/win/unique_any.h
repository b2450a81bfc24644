#pragma once

#include <windows.h>

#include <cstdint>
#include <utility>

// Owns one handle of any kind and closes it once: the handle type, its close
// function and the value that means "no handle" are the template's. Move
// only. Closing keeps the thread's last error, so a caller may read
// GetLastError after an owner went out of scope or was reset.
template <typename T, auto Close, intptr_t Invalid = 0>
class CUniqueAny {
 public:
  CUniqueAny() = default;
  explicit CUniqueAny(T handle) : m_handle(handle) {}
  ~CUniqueAny() { Reset(); }

  CUniqueAny(CUniqueAny&& other) noexcept : m_handle(other.Release()) {}
  CUniqueAny& operator=(CUniqueAny&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  CUniqueAny(const CUniqueAny&) = delete;
  CUniqueAny& operator=(const CUniqueAny&) = delete;

  T Get() const { return m_handle; }
  explicit operator bool() const { return m_handle != InvalidValue(); }

  T Release() { return std::exchange(m_handle, InvalidValue()); }
  void Reset(T handle = InvalidValue()) {
    if (m_handle != InvalidValue()) {
      const DWORD error = ::GetLastError();
      Close(m_handle);
      ::SetLastError(error);
    }
    m_handle = handle;
  }

 private:
  static T InvalidValue() { return reinterpret_cast<T>(Invalid); }

  T m_handle = InvalidValue();
};
