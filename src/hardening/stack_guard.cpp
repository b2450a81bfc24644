// The stack protector's guard and failure, our own rather than libssp's:
// libssp would add an import, and on failure it prints and aborts, while a
// failed check here must end the process the way a failed /GS check does.
//
// Every C and C++ file of the Windows build is compiled with
// -fstack-protector-strong and every binary links this file, so nothing
// else defines these two names. Nothing here may itself be instrumented: the
// seed runs while the guard changes, and the failure runs on a stack that is
// known to be corrupt.
#include <windows.h>

#include <cstdint>

extern "C" {

// Used until the seed below runs, so that code running before it (the
// runtime's TLS callbacks) still has a canary that is not zero.
uintptr_t __stack_chk_guard = 0xBB40E64E;

// STATUS_STACK_BUFFER_OVERRUN at once, no handler run and nothing printed:
// __fastfail where the system has it (Windows 8 on); before that, int 0x29
// is an access violation whose handlers would run, so the process is
// terminated directly.
[[noreturn]] __attribute__((no_stack_protector)) void __stack_chk_fail() {
  if (::IsProcessorFeaturePresent(PF_FASTFAIL_AVAILABLE)) {
    __asm__ volatile("int $0x29" : : "c"(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE) : "memory");
  }
  ::TerminateProcess(::GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
  __builtin_trap();
}

}  // extern "C"

namespace {

// What /GS mixes into its cookie, all of it present on XP: times, the
// process's and thread's ids, the performance counter and the stack's
// address, which varies with ASLR.
__attribute__((no_stack_protector)) uintptr_t GuardSeed() {
  FILETIME time = {};
  ::GetSystemTimeAsFileTime(&time);
  LARGE_INTEGER counter = {};
  ::QueryPerformanceCounter(&counter);
  uintptr_t seed = time.dwLowDateTime ^ time.dwHighDateTime;
  seed ^= ::GetCurrentProcessId() ^ ::GetCurrentThreadId() ^ ::GetTickCount();
  seed ^= counter.LowPart ^ static_cast<uintptr_t>(counter.HighPart);
  seed ^= reinterpret_cast<uintptr_t>(&time);
  return seed;
}

__attribute__((no_stack_protector)) int SeedStackGuard() {
  const uintptr_t seed = GuardSeed();
  // Zero would make every canary predictable; keep the default then.
  if (seed != 0) __stack_chk_guard = seed;
  return 0;
}

// A C initializer (.CRT$XI*): the runtime runs these before any C++
// constructor and before main or DllMain, while no instrumented function is
// on the stack to find its canary changed on return.
__attribute__((section(".CRT$XIB"), used)) int (*const kSeedStackGuard)() = &SeedStackGuard;

}  // namespace
