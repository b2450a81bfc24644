#pragma once

#include "app/decode_config.h"

// Calls `routine` with the three arguments and returns its result, leaving
// the caller's stack pointer as it was whether the routine is __cdecl or
// __stdcall. Written in assembly (decoder_call.S) so that no compiler can
// place an argument store between the call and the restore.
extern "C" int __cdecl CallDecodeConfig(DecodeConfigRoutine routine, const char* text, char* out,
                                        int outSize);
