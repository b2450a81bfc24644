#pragma once

#include <windows.h>

// GetExport<Func>(module, name): the export `name` of `module` as a Func, or
// null. KV_GET_EXPORT(module, Function) takes the type and the name from one
// declaration of Function, so the two can never drift apart.
template <typename Func>
Func GetExport(HMODULE module, const char* name) {
  // GetProcAddress hands out a generic FARPROC; going through void(*)() is
  // the conversion GCC accepts without -Wcast-function-type.
  return reinterpret_cast<Func>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

#define KV_GET_EXPORT(module, function) GetExport<decltype(&function)>(module, #function)
