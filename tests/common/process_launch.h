#pragma once

#include <windows.h>

#include <string>

#include "win/unique_handle.h"

namespace kvtest {

struct LaunchedProcess {
  CUniqueHandle process;
  CUniqueHandle thread;
};

// Starts `commandLine` (`application` may be null: then the command line's
// first word names the program) with standard input and error on NUL and
// standard output on `output`, which must be inheritable (NUL when null).
// `environment` is a CREATE_UNICODE_ENVIRONMENT block, or null for ours;
// `workDir` null keeps ours. False, with GetLastError set, when it did not
// start.
bool LaunchProcess(const wchar_t* application, std::wstring commandLine, HANDLE output,
                   const wchar_t* environment, const wchar_t* workDir, LaunchedProcess& launched);

}  // namespace kvtest
