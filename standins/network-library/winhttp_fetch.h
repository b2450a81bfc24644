#pragma once

#include <cstdint>
#include <string>

#include "request_slot.h"

// What one GET came to, in the terms the task reports: state 2 with the body
// on HTTP 200, otherwise kFetchFailed with the two numbers.
struct FetchOutcome {
  int32_t state = 0;
  int32_t firstError = 0;   // WinHTTP / Win32 error code, 0 when the exchange itself worked
  int32_t secondError = 0;  // HTTP status when one arrived, else 0
  std::string body;
};

constexpr int32_t kFetchSucceeded = 2;
constexpr int32_t kFetchFailed = 3;

// Performs one synchronous GET of `url` on the calling thread. The open
// request is parked in `slot` while it runs, so CRequestSlot::Abort from
// another thread ends it early (the outcome is then a failure nobody reads).
// WIRELINK_CONNECT_TO=HOST:PORT sends the request to HOST:PORT instead of the
// URL's host while keeping the URL's path and Host header.
FetchOutcome FetchUrl(const std::wstring& url, CRequestSlot& slot);
