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

// Used until the seed below runs, so that code running before it (the
// runtime's TLS callbacks) still has a canary that is not zero.
extern "C" {
uintptr_t __stack_chk_guard = 0xBB40E64E;
}

// STATUS_STACK_BUFFER_OVERRUN at once, no handler run and nothing printed,
// the way a failed /GS check ends a process where the system has no fast
// fail. Not int 0x29 where it has: where that instruction arrives as an
// ordinary fault (Wine on an emulated CPU), its dispatch runs handlers over
// the corrupted stack, and such a run was seen to end with status 0.
extern "C" [[noreturn]] __attribute__((no_stack_protector)) void __stack_chk_fail() {
  ::TerminateProcess(::GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
  __builtin_trap();
}

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
