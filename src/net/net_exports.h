#pragma once

// The network library's exports, declared once: the library implements these
// declarations (so the compiler checks its signatures), and the program
// looks them up by the same names and types with KV_GET_EXPORT. The program
// never links against them.
//
// HttpInit and HttpUninit take no arguments, so __cdecl and __stdcall agree
// on them (the callee has nothing to pop): a library may use either.
// zlib_* follow zlib's own signatures; they are looked up, never called.

#include "net/http_task.h"

extern "C" {
// The library's request factory, or null when it is unusable.
RequestFactory* __cdecl HttpInit();
void __cdecl HttpUninit();
int __cdecl zlib_uncompress(unsigned char* dest, unsigned long* destLength,
                            const unsigned char* source, unsigned long sourceLength);
int __cdecl zlib_compress(unsigned char* dest, unsigned long* destLength,
                          const unsigned char* source, unsigned long sourceLength);
unsigned long __cdecl zlib_compressBound(unsigned long sourceLength);
}

using HttpInitFunc = decltype(&HttpInit);
using HttpUninitFunc = decltype(&HttpUninit);
using ZlibUncompressFunc = decltype(&zlib_uncompress);
using ZlibCompressFunc = decltype(&zlib_compress);
using ZlibCompressBoundFunc = decltype(&zlib_compressBound);
