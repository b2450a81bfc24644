#include "msvc_runtime.h"

void* AllocateZeroed(size_t bytes) { return HeapAlloc(GetProcessHeap(), kHeapZeroMemory, bytes); }

void FreeBlock(void* block) {
  if (block) HeapFree(GetProcessHeap(), 0, block);
}

// What the compiler may call on its own without a CRT: block copies and
// fills, and the slot filler of an abstract class's table. -fno-builtin
// keeps it from turning these loops back into calls of themselves.
extern "C" {

void* __cdecl memcpy(void* to, const void* from, size_t count) {
  auto* out = static_cast<unsigned char*>(to);
  const auto* in = static_cast<const unsigned char*>(from);
  while (count--) *out++ = *in++;
  return to;
}

void* __cdecl memset(void* to, int value, size_t count) {
  auto* out = static_cast<unsigned char*>(to);
  while (count--) *out++ = static_cast<unsigned char>(value);
  return to;
}

int __cdecl _purecall() {
  // A pure virtual call is a bug in this library; stop on it at once.
  __builtin_trap();
}

}  // extern "C"
