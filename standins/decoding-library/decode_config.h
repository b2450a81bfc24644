#pragma once

// The decoding library's routine, exported by ordinal 6 with no name.
// Reads the zero-terminated configuration `text` and leaves its rendering in
// `out` (outSize bytes): at most outSize - 1 bytes and a terminating zero.
// Returns the number of bytes written, terminator excluded.
extern "C" int __cdecl DecodeConfig(const char* text, char* out, int outSize);
