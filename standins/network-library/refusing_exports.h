#pragma once

// HttpUninit and the zlib exports of a network library that needs none of
// them: they exist for the interface's sake, the compression calls refuse
// with zlib's Z_STREAM_ERROR. These are definitions: include this header in
// exactly one source file of a library. No runtime headers, so libraries
// built without a C++ runtime can use it too.

#include "net/net_exports.h"

extern "C" {

// Tasks wind down on their own threads; there is nothing global to undo.
void __cdecl HttpUninit() {}

int __cdecl zlib_uncompress(unsigned char*, unsigned long*, const unsigned char*, unsigned long) {
  return -2;  // Z_STREAM_ERROR
}

int __cdecl zlib_compress(unsigned char*, unsigned long*, const unsigned char*, unsigned long) {
  return -2;  // Z_STREAM_ERROR
}

unsigned long __cdecl zlib_compressBound(unsigned long) { return 0; }

}  // extern "C"
