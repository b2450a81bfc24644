// A network library that makes no requests, built in variants that break
// one rule each of what the loader relies on. Which variant a process
// loaded, and how often it was initialised, can be asked through two extra
// exports.

#include <windows.h>

#include "common/fake_http_task.h"
#include "fake_net_exports.h"
#include "net/net_exports.h"

#ifndef KV_FAKE_VARIANT
#error "KV_FAKE_VARIANT names the variant"
#endif

namespace {

LONG& InitCalls() {
  static LONG calls = 0;
  return calls;
}

}  // namespace

// The headers declare these for the loader; exporting them is this file's
// business alone.
#pragma clang diagnostic ignored "-Wdll-attribute-on-redeclaration"

extern "C" {

__declspec(dllexport) RequestFactory* __cdecl HttpInit() {
  ::InterlockedIncrement(&InitCalls());
#ifdef KV_FAKE_NULL_FACTORY
  return nullptr;
#else
  static kvtest::CFakeTaskFactory noTasks(std::nullopt);
  return &noTasks;
#endif
}

#ifndef KV_FAKE_NO_UNINIT
__declspec(dllexport) void __cdecl HttpUninit() {}
#endif

__declspec(dllexport) int __cdecl zlib_uncompress(unsigned char*, unsigned long*,
                                                  const unsigned char*, unsigned long) {
  return -1;
}

__declspec(dllexport) int __cdecl zlib_compress(unsigned char*, unsigned long*,
                                                const unsigned char*, unsigned long) {
  return -1;
}

__declspec(dllexport) unsigned long __cdecl zlib_compressBound(unsigned long length) {
  return length + 64;
}

__declspec(dllexport) const char* __cdecl FakeNetVariant() { return KV_FAKE_VARIANT; }

__declspec(dllexport) LONG __cdecl FakeNetInitCalls() { return InitCalls(); }

}  // extern "C"
