#pragma once

#include <string>

#include "net/http_get.h"

// The numbers the loader, the publisher check and the network library hand
// back, in words shared by the text and the JSON reports.

// "0x800B0109"
std::string HexStatus(long status);
// The header name of a WinVerifyTrust status, such as "CERT_E_UNTRUSTEDROOT"
// or, for a file it could not read, "ERROR_ACCESS_DENIED"; else "unknown status".
const char* TrustStatusName(long status);
// "WSAETIMEDOUT: connection timed out" for a Win32, Winsock or WinHTTP error
// number a request or a load can end with; empty for one not in the table.
std::string ErrorName(long code);
// For a failure report: the WinHTTP, Winsock or Win32 name of its first
// number, or the HTTP status when that is 0 and the second is not (saying so
// for a redirect); for a success report without a usable body, what that
// means. Empty when no failure was reported.
std::string ExplainRequestFailure(const HttpGetFailure& failure);
