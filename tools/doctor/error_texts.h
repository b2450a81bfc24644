#pragma once

#include <string>

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
// For the adapter's failure text "err_A_B": the WinHTTP, Winsock or Win32
// name of A, or the HTTP status when A is 0 and B is not (saying so for a
// redirect); for "err_body_N", what that means. Empty for any other text,
// including one with anything after the last number.
std::string ExplainRequestError(const std::string& errorText);
