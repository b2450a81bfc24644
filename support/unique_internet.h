#pragma once

#include <windows.h>
#include <winhttp.h>

#include "win/unique_any.h"

// A WinHTTP session, connection or request handle. Only the stand-in network
// library and the benchmarks use WinHTTP; kvfetch itself does not.
using CUniqueInternet = CUniqueAny<HINTERNET, &::WinHttpCloseHandle>;
