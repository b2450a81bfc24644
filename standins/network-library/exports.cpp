#include <type_traits>

#include "net/http_task.h"
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

// The library must match the signatures the program looks its exports up with.
static_assert(std::is_same_v<decltype(&HttpInit), HttpInitFunc>);
static_assert(std::is_same_v<decltype(&HttpUninit), HttpUninitFunc>);
static_assert(std::is_same_v<decltype(&zlib_uncompress), ZlibUncompressFunc>);
static_assert(std::is_same_v<decltype(&zlib_compress), ZlibCompressFunc>);
static_assert(std::is_same_v<decltype(&zlib_compressBound), ZlibCompressBoundFunc>);
