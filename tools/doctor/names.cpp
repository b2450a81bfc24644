#include "names.h"

#include <winhttp.h>

#include <cstdint>
#include <cstdio>
#include <utility>

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

// Every number a request failure can carry (the stand-in passes on
// GetLastError, which after WinHTTP may also be a Winsock or plain Win32
// error), and the Win32 errors WinVerifyTrust returns for unreadable files.
struct ErrorEntry {
  long code;
  const char* name;
  const char* words;
};
#define KV_ERROR(code, words) \
  { static_cast<long>(code), #code, words }
constexpr ErrorEntry kErrorNames[] = {
    KV_ERROR(ERROR_FILE_NOT_FOUND, "file not found"),
    KV_ERROR(ERROR_PATH_NOT_FOUND, "path not found"),
    KV_ERROR(ERROR_ACCESS_DENIED, "access denied"),
    KV_ERROR(ERROR_INVALID_HANDLE, "invalid handle"),
    KV_ERROR(ERROR_NOT_ENOUGH_MEMORY, "not enough memory"),
    KV_ERROR(ERROR_BAD_FORMAT, "not a valid program file"),
    KV_ERROR(ERROR_OUTOFMEMORY, "out of memory"),
    KV_ERROR(ERROR_SHARING_VIOLATION, "the file is in use"),
    KV_ERROR(ERROR_HANDLE_EOF, "end of file"),
    KV_ERROR(ERROR_INVALID_PARAMETER, "invalid parameter"),
    KV_ERROR(ERROR_INSUFFICIENT_BUFFER, "data too large for the buffer"),
    KV_ERROR(ERROR_INVALID_NAME, "invalid file name"),
    KV_ERROR(ERROR_BAD_EXE_FORMAT, "not a valid Win32 program"),
    KV_ERROR(ERROR_NO_MORE_ITEMS, "no more items"),
    KV_ERROR(ERROR_INTERNAL_ERROR, "internal error"),
    KV_ERROR(WSAEFAULT, "bad address"),
    KV_ERROR(WSAEINVAL, "invalid argument"),
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
    KV_ERROR(ERROR_WINHTTP_OUT_OF_HANDLES, "out of handles"),
    KV_ERROR(ERROR_WINHTTP_TIMEOUT, "timed out"),
    KV_ERROR(ERROR_WINHTTP_INTERNAL_ERROR, "internal error"),
    KV_ERROR(ERROR_WINHTTP_INVALID_URL, "invalid URL"),
    KV_ERROR(ERROR_WINHTTP_UNRECOGNIZED_SCHEME, "unrecognized URL scheme"),
    KV_ERROR(ERROR_WINHTTP_NAME_NOT_RESOLVED, "host name not resolved"),
    KV_ERROR(ERROR_WINHTTP_INVALID_OPTION, "invalid option"),
    KV_ERROR(ERROR_WINHTTP_OPTION_NOT_SETTABLE, "option not settable"),
    KV_ERROR(ERROR_WINHTTP_SHUTDOWN, "WinHTTP shut down"),
    KV_ERROR(ERROR_WINHTTP_LOGIN_FAILURE, "login failed"),
    KV_ERROR(ERROR_WINHTTP_OPERATION_CANCELLED, "operation cancelled"),
    KV_ERROR(ERROR_WINHTTP_INCORRECT_HANDLE_TYPE, "incorrect handle type"),
    KV_ERROR(ERROR_WINHTTP_INCORRECT_HANDLE_STATE, "incorrect handle state"),
    KV_ERROR(ERROR_WINHTTP_CANNOT_CONNECT, "cannot connect"),
    KV_ERROR(ERROR_WINHTTP_CONNECTION_ERROR,
             "connection reset or closed early; the stand-in's number for a body "
             "shorter than its Content-Length"),
    KV_ERROR(ERROR_WINHTTP_RESEND_REQUEST, "request must be resent"),
    KV_ERROR(ERROR_WINHTTP_SECURE_CERT_DATE_INVALID, "server certificate expired"),
    KV_ERROR(ERROR_WINHTTP_SECURE_CERT_CN_INVALID, "server certificate name mismatch"),
    KV_ERROR(ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED, "client certificate needed"),
    KV_ERROR(ERROR_WINHTTP_SECURE_INVALID_CA, "server certificate from an untrusted CA"),
    KV_ERROR(ERROR_WINHTTP_SECURE_CERT_REV_FAILED, "revocation check failed"),
    KV_ERROR(ERROR_WINHTTP_HEADER_NOT_FOUND, "header not found"),
    KV_ERROR(ERROR_WINHTTP_INVALID_SERVER_RESPONSE,
             "invalid server response; the stand-in's number for broken framing"),
    KV_ERROR(ERROR_WINHTTP_INVALID_HEADER, "invalid header"),
    KV_ERROR(ERROR_WINHTTP_INVALID_QUERY_REQUEST, "invalid header query"),
    KV_ERROR(ERROR_WINHTTP_HEADER_ALREADY_EXISTS, "header already exists"),
    KV_ERROR(ERROR_WINHTTP_REDIRECT_FAILED, "redirect failed"),
    KV_ERROR(ERROR_WINHTTP_SECURE_CHANNEL_ERROR, "secure channel error"),
    KV_ERROR(ERROR_WINHTTP_SECURE_INVALID_CERT, "invalid server certificate"),
    KV_ERROR(ERROR_WINHTTP_SECURE_CERT_REVOKED, "server certificate revoked"),
    KV_ERROR(ERROR_WINHTTP_NOT_INITIALIZED, "WinHTTP not initialized"),
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

#undef KV_STATUS

template <std::size_t N>
const char* FindName(const StatusName (&table)[N], long status) {
  for (const StatusName& entry : table) {
    if (entry.status == status) return entry.name;
  }
  return nullptr;
}

}  // namespace

namespace {

void AppendHex(std::string& out, const char* prefix, unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%s%0*X", prefix, digits, value);
  out += text;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Characters that could break a line, fake one, or reorder what is shown.
bool IsDisguising(std::uint32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp < 0xA0) || cp == 0x200E || cp == 0x200F ||
         (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) || cp == 0xFEFF ||
         (cp >= 0xD800 && cp <= 0xDFFF);
}

void AppendShown(std::string& out, std::uint32_t cp, bool quoted) {
  if (cp == '\n') {
    out += "\\n";
  } else if (cp == '\r') {
    out += "\\r";
  } else if (cp == '\t') {
    out += "\\t";
  } else if (cp < 0x20 || cp == 0x7F) {
    AppendHex(out, "\\x", cp, 2);
  } else if (IsDisguising(cp)) {
    AppendHex(out, "\\u", cp, 4);
  } else if (quoted && (cp == '"' || cp == '\\')) {
    out += '\\';
    out += static_cast<char>(cp);
  } else {
    AppendUtf8(out, cp);
  }
}

// The length of the well-formed UTF-8 sequence at `at` (shortest form, no
// surrogates, at most U+10FFFF), or 0.
std::size_t SequenceLength(const std::string& text, std::size_t at, std::uint32_t& cp) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned lead = byte(0);
  std::size_t length = 0;
  unsigned low = 0x80;
  unsigned high = 0xBF;
  if (lead < 0x80) {
    cp = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    cp = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    cp = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned next = byte(i);
    if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return 0;
    cp = (cp << 6) | (next & 0x3F);
  }
  return length;
}

std::string InQuotes(std::string text, bool quoted) { return quoted ? "\"" + text + "\"" : text; }

}  // namespace

std::string Escaped(const std::string& text, bool quoted) {
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    std::uint32_t cp = 0;
    const std::size_t length = SequenceLength(text, at, cp);
    if (length == 0) {
      AppendHex(out, "\\x", static_cast<unsigned char>(text[at]), 2);
      ++at;
      continue;
    }
    AppendShown(out, cp, quoted);
    at += length;
  }
  return InQuotes(std::move(out), quoted);
}

std::string Escaped(const std::wstring& text, bool quoted) {
  std::string out;
  for (std::size_t at = 0; at < text.size(); ++at) {
    std::uint32_t cp = static_cast<std::uint16_t>(text[at]);
    if (cp >= 0xD800 && cp <= 0xDBFF && at + 1 < text.size()) {
      const std::uint32_t low = static_cast<std::uint16_t>(text[at + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        ++at;
      }
    }
    AppendShown(out, cp, quoted);
  }
  return InQuotes(std::move(out), quoted);
}

std::string HexStatus(long status) {
  char text[11] = {};
  std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(status));
  return text;
}

const char* TrustStatusName(long status) {
  if (const char* name = FindName(kTrustStatusNames, status)) return name;
  // A file WinVerifyTrust could not read gives a plain Win32 error.
  if (const ErrorEntry* error = FindError(status)) return error->name;
  return "unknown status";
}

std::string ErrorName(long code) {
  const ErrorEntry* error = FindError(code);
  if (error == nullptr) return std::string();
  return std::string(error->name) + ": " + error->words;
}

CandidateLoad ClassifyLoad(const CandidateReport& candidate) {
  if (!candidate.loadTried) return CandidateLoad::kNotTried;
  if (candidate.usable) return CandidateLoad::kLoaded;
  if (candidate.loadedHere) return CandidateLoad::kNotUsable;
  if (candidate.moduleHeld) return CandidateLoad::kAlreadyHeld;
  return CandidateLoad::kLoadFailed;
}

namespace {

constexpr NameRow<CandidateLoad> kCandidateLoads[] = {
    {CandidateLoad::kNotTried, "not_tried", ""},
    {CandidateLoad::kLoaded, "loaded", "loaded"},
    {CandidateLoad::kNotUsable, "not_usable", "loaded, but not usable (see below); stays loaded"},
    {CandidateLoad::kAlreadyHeld, "already_held", "not loaded: the library loaded before it stays"},
    {CandidateLoad::kLoadFailed, "load_failed", "LoadLibraryW failed"},
};

constexpr NameRow<PublisherStep> kPublisherSteps[] = {
    {PublisherStep::kNoFile, "no_file", "gone before the check"},
    {PublisherStep::kLegacyWindows, "legacy_windows",
     "accepted without verification (Windows before Vista)"},
    {PublisherStep::kStatusRefused, "status_refused", "refused"},
    {PublisherStep::kNoSignerCertificate, "no_signer_certificate", "no signer certificate"},
    {PublisherStep::kNameNotListed, "not_listed", "not listed"},
    {PublisherStep::kFault, "fault", "fault inside the verification"},
    {PublisherStep::kAccepted, "trusted", "listed"},
};

constexpr NameRow<HttpGetOutcome> kRequestOutcomes[] = {
    {HttpGetOutcome::kSucceeded, "success", "success"},
    {HttpGetOutcome::kNoFactory, "no_factory", "no request factory (no usable network library)"},
    {HttpGetOutcome::kNoTask, "no_task", "no task"},
    {HttpGetOutcome::kNotStarted, "not_started", "not started"},
    {HttpGetOutcome::kNoEvent, "no_event", "no event"},
    {HttpGetOutcome::kNoAnswer, "timeout", "no answer"},
    {HttpGetOutcome::kFailed, "failure", "failure"},
};

constexpr NameRow<FileKind> kFileKinds[] = {
    {FileKind::kMissing, "missing", "missing"},
    {FileKind::kRegular, "regular", "a regular file"},
    {FileKind::kFolder, "folder", "not a regular file (a folder)"},
    {FileKind::kOther, "other", "not a regular file (a FIFO, a device or the like)"},
};

constexpr NameRow<ErrnoSent> kErrnoSents[] = {
    {ErrnoSent::kAbsent, "absent", "absent (read as 0)"},
    {ErrnoSent::kStatus, "status", "a 32-bit status"},
    {ErrnoSent::kNotAStatus, "not_a_status", "not a 32-bit integer, so not an error; read as 0"},
};

}  // namespace

const NameRow<CandidateLoad>& NamesOf(CandidateLoad load) { return RowOf(kCandidateLoads, load); }
const NameRow<PublisherStep>& NamesOf(PublisherStep step) { return RowOf(kPublisherSteps, step); }
const NameRow<HttpGetOutcome>& NamesOf(HttpGetOutcome outcome) {
  return RowOf(kRequestOutcomes, outcome);
}
const NameRow<FileKind>& NamesOf(FileKind kind) { return RowOf(kFileKinds, kind); }
const NameRow<ErrnoSent>& NamesOf(ErrnoSent sent) { return RowOf(kErrnoSents, sent); }

std::string ExplainRequestError(const std::string& errorText) {
  int first = 0;
  int second = 0;
  char end = '\0';
  if (errorText.rfind("err_body_", 0) == 0) {
    return "a success report without a usable body, which counts as a failure";
  }
  if (std::sscanf(errorText.c_str(), "err_%d_%d%c", &first, &second, &end) != 2) {
    return std::string();
  }
  if (first == 0 && second == 0) return "a failure report without error numbers";
  if (first == 0 && second >= 300 && second < 400) {
    return "HTTP status " + std::to_string(second) + ", a redirect, which is not followed";
  }
  if (first == 0 && second != 0) return "HTTP status " + std::to_string(second);
  const std::string name = ErrorName(first);
  return name.empty() ? "unknown error " + std::to_string(first) : name;
}
