#pragma once

// The decoding library's routine, exported by ordinal 6 with no name.
// Reads the zero-terminated configuration `text` and leaves its rendering in
// `out` (outSize bytes): at most outSize - 1 bytes and a terminating zero.
// Returns the number of bytes written, terminator excluded.
//
// The calling convention is not part of the contract: a library built as
// __cdecl leaves the three arguments for the caller to remove, one built as
// __stdcall removes them itself (ret 12). The declaration says __cdecl
// because that is the name the import library binds (_DecodeConfig); the
// program calls it only through CallDecodeConfig (app/decoder_call.h), which
// is right for both.
extern "C" int __cdecl DecodeConfig(const char* text, char* out, int outSize);

// The size of the buffer the program hands DecodeConfig; it prints at most
// one byte less. Fixed: a longer rendering is cut there, and what kvfetch
// prints must not depend on the build.
inline constexpr int kDecodeConfigOutputSize = 1024;

using DecodeConfigRoutine = decltype(&DecodeConfig);
