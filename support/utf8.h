#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// UTF-16 to UTF-8 and back, whole strings, NULs included. Unpaired
// surrogates and invalid bytes become U+FFFD, as the system converts them.
inline std::string Utf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int units = static_cast<int>(text.size());
  const int size =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), units, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), units, out.data(), size, nullptr, nullptr);
  return out;
}

inline std::wstring Widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int bytes = static_cast<int>(utf8.size());
  const int units = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), bytes, nullptr, 0);
  std::wstring out(static_cast<size_t>(units), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), bytes, out.data(), units);
  return out;
}
