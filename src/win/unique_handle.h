#pragma once

#include <windows.h>

#include "win/unique_any.h"

// Kernel handles whose creators report failure with null (CreateEventW,
// CreateThread, OpenProcess).
using CUniqueHandle = CUniqueAny<HANDLE, &::CloseHandle>;

// Handles whose creators report failure with INVALID_HANDLE_VALUE
// (CreateFileW, CreateToolhelp32Snapshot).
using CUniqueFile = CUniqueAny<HANDLE, &::CloseHandle, -1>;
