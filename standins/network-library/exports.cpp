#include "net/net_exports.h"
#include "wirelink_task.h"

// zlib's Z_STREAM_ERROR: the compression exports exist for the interface's
// sake only and refuse every call.
constexpr int kZlibStreamError = -2;

extern "C" {

RequestFactory* __cdecl HttpInit() {
  static CWirelinkFactory factory;
  return &factory;
}

// Tasks wind down on their own threads; there is nothing global to undo.
void __cdecl HttpUninit() {}

int __cdecl zlib_uncompress(unsigned char*, unsigned long*, const unsigned char*, unsigned long) {
  return kZlibStreamError;
}

int __cdecl zlib_compress(unsigned char*, unsigned long*, const unsigned char*, unsigned long) {
  return kZlibStreamError;
}

unsigned long __cdecl zlib_compressBound(unsigned long) { return 0; }

}  // extern "C"
