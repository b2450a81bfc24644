#pragma once

// The network library's exports, listed once in KV_NET_EXPORTS. The table
// declares them below, so a library that implements them is checked against
// these signatures, and it drives the program's look-up (NetExports, never
// a link) and the lists the tools print of what a library exports.
//
// Each row is X(member, name, result, parameters, required):
//   member      the NetExports field that holds it once looked up
//   name        the exported name, undecorated; it is looked up as written
//   result, parameters  its signature, always __cdecl
//   required    whether a library without it is unusable
//
// HttpInit gives the library's request factory, or null when it is unusable.
// It and HttpUninit take no arguments, so __cdecl and __stdcall agree on them
// (the callee has nothing to pop): a library may use either. zlib_* follow
// zlib's own signatures; they are looked up, never called.

#include "net/http_task.h"

#define KV_NET_EXPORTS(X)                                                         \
  X(httpInit, HttpInit, RequestFactory*, (), true)                                \
  X(httpUninit, HttpUninit, void, (), true)                                       \
  X(zlibUncompress, zlib_uncompress, int,                                         \
    (unsigned char* dest, unsigned long* destLength, const unsigned char* source, \
     unsigned long sourceLength),                                                 \
    false)                                                                        \
  X(zlibCompress, zlib_compress, int,                                             \
    (unsigned char* dest, unsigned long* destLength, const unsigned char* source, \
     unsigned long sourceLength),                                                 \
    false)                                                                        \
  X(zlibCompressBound, zlib_compressBound, unsigned long, (unsigned long sourceLength), false)

extern "C" {
#define KV_DECLARE_NET_EXPORT(member, name, result, parameters, required) \
  result __cdecl name parameters;
KV_NET_EXPORTS(KV_DECLARE_NET_EXPORT)
#undef KV_DECLARE_NET_EXPORT
}
