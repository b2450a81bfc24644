// GetTickCount64 for Windows XP.
//
// The static thread runtime (winpthread) reads GetTickCount64, which
// kernel32 exports only from Vista on; Windows refuses to start a program
// with an unresolved import. Defining the runtime's import pointer here binds
// its calls to a resolver instead: kernel32's own function where there is
// one, else a 64-bit extension of GetTickCount. Link this object into every
// shipped binary (cmake/release.cmake does).
#include "compat/tick_count64.h"

#include <windows.h>

#include <atomic>

namespace {

using TickCount64Function = ULONGLONG(WINAPI*)();

// Counts from the process's first reading rather than from boot, which is
// all the runtime needs: it only measures intervals.
ULONGLONG WINAPI TickCount64FromTickCount() {
  static std::atomic<uint64_t> last{0};
  uint64_t seen = last.load();
  for (;;) {
    const uint64_t next = ExtendTickCount(seen, ::GetTickCount());
    if (next == seen || last.compare_exchange_weak(seen, next)) return next;
  }
}

TickCount64Function ResolveTickCount64() {
  const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  const FARPROC found = kernel32 ? ::GetProcAddress(kernel32, "GetTickCount64") : nullptr;
  if (found == nullptr) return &TickCount64FromTickCount;
  return reinterpret_cast<TickCount64Function>(reinterpret_cast<void*>(found));
}

// No function-local static with a guard: the guard may wait through the
// thread runtime, which is what calls in here.
ULONGLONG WINAPI ResolvedTickCount64() {
  static std::atomic<TickCount64Function> resolved{nullptr};
  TickCount64Function function = resolved.load(std::memory_order_acquire);
  if (function == nullptr) {
    function = ResolveTickCount64();
    resolved.store(function, std::memory_order_release);
  }
  return function();
}

}  // namespace

// The name the import library gives kernel32's pointer; an object that
// defines it keeps the linker from taking it, and the import, from there.
extern "C" {
extern const TickCount64Function kvImportedTickCount64 __asm__("__imp__GetTickCount64@0");
const TickCount64Function kvImportedTickCount64 = &ResolvedTickCount64;
}
