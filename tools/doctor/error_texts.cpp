#include "error_texts.h"

#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <cstdio>

namespace {

struct StatusName {
  long status;
  const char* name;
};

// The statuses an operator is likely to meet: the three the check tolerates
// and the usual reasons for a refusal.
#define KV_STATUS(code) \
  { static_cast<long>(code), #code }
constexpr StatusName kTrustStatusNames[] = {
    KV_STATUS(ERROR_SUCCESS),
    KV_STATUS(CERT_E_EXPIRED),
    KV_STATUS(CERT_E_UNTRUSTEDROOT),
    KV_STATUS(TRUST_E_NOSIGNATURE),
    KV_STATUS(TRUST_E_BAD_DIGEST),
    KV_STATUS(TRUST_E_SUBJECT_NOT_TRUSTED),
    KV_STATUS(TRUST_E_EXPLICIT_DISTRUST),
    KV_STATUS(TRUST_E_PROVIDER_UNKNOWN),
    KV_STATUS(TRUST_E_SUBJECT_FORM_UNKNOWN),
    KV_STATUS(TRUST_E_CERT_SIGNATURE),
    KV_STATUS(TRUST_E_SYSTEM_ERROR),
    KV_STATUS(CERT_E_CHAINING),
    KV_STATUS(CERT_E_REVOKED),
    KV_STATUS(CERT_E_UNTRUSTEDTESTROOT),
    KV_STATUS(CERT_E_WRONG_USAGE),
    KV_STATUS(CRYPT_E_SECURITY_SETTINGS),
    KV_STATUS(CRYPT_E_FILE_ERROR),
};
#undef KV_STATUS

struct ErrorEntry {
  long code;
  const char* name;
  const char* words;
};

// What the three callers can end with on a working program: LoadLibraryW and
// WinVerifyTrust on a file that is missing, locked, damaged or not a DLL, and
// a request's GetLastError after WinHTTP, which under Wine may be a socket's
// Winsock error. Errors only a wrong argument or handle gives are left out.
#define KV_ERROR(code, words) \
  { static_cast<long>(code), #code, words }
constexpr ErrorEntry kErrorNames[] = {
    KV_ERROR(ERROR_FILE_NOT_FOUND, "file not found"),
    KV_ERROR(ERROR_PATH_NOT_FOUND, "path not found"),
    KV_ERROR(ERROR_ACCESS_DENIED, "access denied"),
    KV_ERROR(ERROR_NOT_ENOUGH_MEMORY, "not enough memory"),
    KV_ERROR(ERROR_BAD_FORMAT, "not a valid program file"),
    KV_ERROR(ERROR_SHARING_VIOLATION, "the file is in use"),
    KV_ERROR(ERROR_HANDLE_EOF, "end of file"),
    KV_ERROR(ERROR_INSUFFICIENT_BUFFER, "data too large for the buffer"),
    KV_ERROR(ERROR_BAD_EXE_FORMAT, "not a valid Win32 program"),
    KV_ERROR(WSAENETDOWN, "network is down"),
    KV_ERROR(WSAENETUNREACH, "network unreachable"),
    KV_ERROR(WSAECONNABORTED, "connection aborted"),
    KV_ERROR(WSAECONNRESET, "connection reset by peer"),
    KV_ERROR(WSAENOBUFS, "no buffer space"),
    KV_ERROR(WSAETIMEDOUT, "connection timed out"),
    KV_ERROR(WSAECONNREFUSED, "connection refused"),
    KV_ERROR(WSAEHOSTUNREACH, "host unreachable"),
    KV_ERROR(WSAHOST_NOT_FOUND, "host not found"),
    KV_ERROR(WSATRY_AGAIN, "name lookup failed for now"),
    KV_ERROR(ERROR_WINHTTP_TIMEOUT, "timed out"),
    KV_ERROR(ERROR_WINHTTP_INTERNAL_ERROR, "internal error"),
    KV_ERROR(ERROR_WINHTTP_INVALID_URL, "invalid URL"),
    KV_ERROR(ERROR_WINHTTP_UNRECOGNIZED_SCHEME, "unrecognized URL scheme"),
    KV_ERROR(ERROR_WINHTTP_NAME_NOT_RESOLVED, "host name not resolved"),
    KV_ERROR(ERROR_WINHTTP_LOGIN_FAILURE, "login failed"),
    KV_ERROR(ERROR_WINHTTP_OPERATION_CANCELLED, "operation cancelled"),
    KV_ERROR(ERROR_WINHTTP_CANNOT_CONNECT, "cannot connect"),
    KV_ERROR(ERROR_WINHTTP_CONNECTION_ERROR,
             "connection reset or closed before the whole response arrived"),
    KV_ERROR(ERROR_WINHTTP_RESEND_REQUEST, "request must be resent"),
    KV_ERROR(ERROR_WINHTTP_SECURE_CERT_DATE_INVALID, "server certificate expired"),
    KV_ERROR(ERROR_WINHTTP_SECURE_CERT_CN_INVALID, "server certificate name mismatch"),
    KV_ERROR(ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED, "client certificate needed"),
    KV_ERROR(ERROR_WINHTTP_SECURE_INVALID_CA, "server certificate from an untrusted CA"),
    KV_ERROR(ERROR_WINHTTP_SECURE_CERT_REV_FAILED, "revocation check failed"),
    KV_ERROR(ERROR_WINHTTP_HEADER_NOT_FOUND, "header not found"),
    KV_ERROR(ERROR_WINHTTP_INVALID_SERVER_RESPONSE,
             "invalid server response: a bad status line, headers or body framing"),
    KV_ERROR(ERROR_WINHTTP_REDIRECT_FAILED, "redirect failed"),
    KV_ERROR(ERROR_WINHTTP_SECURE_CHANNEL_ERROR, "secure channel error"),
    KV_ERROR(ERROR_WINHTTP_SECURE_INVALID_CERT, "invalid server certificate"),
    KV_ERROR(ERROR_WINHTTP_SECURE_CERT_REVOKED, "server certificate revoked"),
    KV_ERROR(ERROR_WINHTTP_SECURE_FAILURE, "secure connection failed"),
    KV_ERROR(ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE, "server certificate of the wrong usage"),
    KV_ERROR(ERROR_WINHTTP_HEADER_COUNT_EXCEEDED, "too many headers"),
    KV_ERROR(ERROR_WINHTTP_HEADER_SIZE_OVERFLOW, "headers too large"),
    KV_ERROR(ERROR_WINHTTP_CHUNKED_ENCODING_HEADER_SIZE_OVERFLOW, "chunk header too large"),
    KV_ERROR(ERROR_WINHTTP_RESPONSE_DRAIN_OVERFLOW, "response too large to drain"),
};
#undef KV_ERROR

const ErrorEntry* FindError(long code) {
  for (const ErrorEntry& entry : kErrorNames) {
    if (entry.code == code) return &entry;
  }
  return nullptr;
}

const char* FindTrustStatus(long status) {
  for (const StatusName& entry : kTrustStatusNames) {
    if (entry.status == status) return entry.name;
  }
  return nullptr;
}

std::string ExplainFailureNumbers(std::int32_t first, std::int32_t second) {
  if (first == 0 && second == 0) return "a failure report without error numbers";
  if (first == 0 && second >= 300 && second < 400) {
    return "HTTP status " + std::to_string(second) + ", a redirect, which is not followed";
  }
  if (first == 0) return "HTTP status " + std::to_string(second);
  const std::string name = ErrorName(first);
  return name.empty() ? "unknown error " + std::to_string(first) : name;
}

}  // namespace

std::string HexStatus(long status) {
  char text[11] = {};
  std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(status));
  return text;
}

const char* TrustStatusName(long status) {
  if (const char* name = FindTrustStatus(status)) return name;
  // A file WinVerifyTrust could not read gives a plain Win32 error.
  if (const ErrorEntry* error = FindError(status)) return error->name;
  return "unknown status";
}

std::string ErrorName(long code) {
  const ErrorEntry* error = FindError(code);
  if (error == nullptr) return std::string();
  return std::string(error->name) + ": " + error->words;
}

std::string ExplainRequestFailure(const HttpGetFailure& failure) {
  if (!failure.reported) return std::string();
  if (failure.bodyLength) {
    return "a success report without a usable body, which counts as a failure";
  }
  return ExplainFailureNumbers(failure.firstError, failure.secondError);
}
