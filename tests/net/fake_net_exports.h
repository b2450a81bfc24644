#pragma once

#include <windows.h>

// What the loader's fake libraries export beyond the network library's own
// exports, so a probe can tell which variant a process loaded and how often
// it was initialised.
extern "C" {
const char* __cdecl FakeNetVariant();
LONG __cdecl FakeNetInitCalls();
}
