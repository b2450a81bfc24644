#include "winhttp_fetch.h"

#include <cwchar>
#include <cwctype>
#include <optional>
#include <vector>

#include "net/body_limit.h"
#include "support/unique_internet.h"

namespace {

// Each phase gets its own limit so a stalled peer cannot hold the worker
// forever; the caller gives up on its own after 30 s anyway.
constexpr int kPhaseTimeoutMs = 20000;

constexpr DWORD kHttpOk = 200;

// Failure numbers of our own for bodies WinHTTP hands over without an error:
// one that ends before its Content-Length (the connection closed early), and
// chunked framing that does not hold together.
constexpr DWORD kShortBodyError = ERROR_WINHTTP_CONNECTION_ERROR;             // 12030
constexpr DWORD kBrokenFramingError = ERROR_WINHTTP_INVALID_SERVER_RESPONSE;  // 12152

constexpr wchar_t kConnectToVariable[] = L"WIRELINK_CONNECT_TO";

struct ConnectTarget {
  std::wstring host;
  INTERNET_PORT port = 0;
};

struct UrlParts {
  ConnectTarget origin;
  std::wstring pathAndQuery;
  bool secure = false;
};

FetchOutcome Failure(DWORD error, DWORD httpStatus = 0) {
  FetchOutcome outcome;
  outcome.state = kFetchFailed;
  outcome.firstError = static_cast<int32_t>(error);
  outcome.secondError = static_cast<int32_t>(httpStatus);
  return outcome;
}

FetchOutcome LastErrorFailure() { return Failure(::GetLastError()); }

std::optional<UrlParts> SplitUrl(const std::wstring& url) {
  URL_COMPONENTS components = {};
  components.dwStructSize = sizeof(components);
  // -1 asks WinHttpCrackUrl to point into `url` rather than copy.
  components.dwHostNameLength = static_cast<DWORD>(-1);
  components.dwUrlPathLength = static_cast<DWORD>(-1);
  components.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!::WinHttpCrackUrl(url.c_str(), 0, 0, &components)) return std::nullopt;

  UrlParts parts;
  parts.origin.host.assign(components.lpszHostName, components.dwHostNameLength);
  parts.origin.port = components.nPort;
  parts.pathAndQuery.assign(components.lpszUrlPath, components.dwUrlPathLength);
  parts.pathAndQuery.append(components.lpszExtraInfo, components.dwExtraInfoLength);
  if (parts.pathAndQuery.empty()) parts.pathAndQuery = L"/";
  parts.secure = components.nScheme == INTERNET_SCHEME_HTTPS;
  return parts;
}

// WIRELINK_CONNECT_TO=HOST:PORT, like curl's --connect-to. Anything that does
// not parse is ignored, so the URL's own host is used.
std::optional<ConnectTarget> ConnectOverride() {
  wchar_t value[512] = {};
  const DWORD length = ::GetEnvironmentVariableW(kConnectToVariable, value, 512);
  if (length == 0 || length >= 512) return std::nullopt;

  const std::wstring text(value, length);
  const size_t colon = text.rfind(L':');
  if (colon == 0 || colon == std::wstring::npos || colon + 1 == text.size()) return std::nullopt;
  wchar_t* end = nullptr;
  const unsigned long port = std::wcstoul(text.c_str() + colon + 1, &end, 10);
  if (*end != L'\0' || port == 0 || port > 65535) return std::nullopt;
  return ConnectTarget{text.substr(0, colon), static_cast<INTERNET_PORT>(port)};
}

// The Host header the URL itself would have produced.
std::wstring HostHeader(const UrlParts& parts) {
  std::wstring header = L"Host: " + parts.origin.host;
  const INTERNET_PORT defaultPort =
      parts.secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
  if (parts.origin.port != defaultPort) header += L":" + std::to_wstring(parts.origin.port);
  return header;
}

// The value of one response header, or nullopt when it is absent.
std::optional<std::wstring> HeaderValue(HINTERNET request, DWORD query) {
  DWORD bytes = 0;
  ::WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                        &bytes, WINHTTP_NO_HEADER_INDEX);
  if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0) return std::nullopt;
  std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
  bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
  if (!::WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, &value[0], &bytes,
                             WINHTTP_NO_HEADER_INDEX)) {
    return std::nullopt;
  }
  value.resize(bytes / sizeof(wchar_t));
  return value;
}

// WinHTTP reads a body that stops short, or chunks that make no sense, as an
// ordinary end (Wine's skips what is not a hex digit in a chunk-size line, so
// a broken first line reads as the last chunk). Checked here: a body shorter
// than its Content-Length, and a chunked body that ended with no data at all.
DWORD CheckFraming(HINTERNET request, const std::string& body) {
  std::optional<std::wstring> coding = HeaderValue(request, WINHTTP_QUERY_TRANSFER_ENCODING);
  if (coding) {
    for (wchar_t& c : *coding) c = static_cast<wchar_t>(std::towlower(c));
  }
  if (coding && coding->find(L"chunked") != std::wstring::npos) {
    return body.empty() ? kBrokenFramingError : ERROR_SUCCESS;
  }
  const std::optional<std::wstring> length = HeaderValue(request, WINHTTP_QUERY_CONTENT_LENGTH);
  if (!length) return ERROR_SUCCESS;
  wchar_t* end = nullptr;
  const unsigned long long expected = std::wcstoull(length->c_str(), &end, 10);
  if (length->empty() || *end != L'\0') return kBrokenFramingError;
  return body.size() < expected ? kShortBodyError : ERROR_SUCCESS;
}

bool ReadBody(HINTERNET request, std::string& body, DWORD& error) {
  std::vector<char> chunk(16 * 1024);
  for (;;) {
    DWORD read = 0;
    if (!::WinHttpReadData(request, chunk.data(), static_cast<DWORD>(chunk.size()), &read)) {
      error = ::GetLastError();
      return false;
    }
    if (read == 0) return true;
    if (body.size() + read > kMaxResponseBodyBytes) {
      error = ERROR_INSUFFICIENT_BUFFER;
      return false;
    }
    body.append(chunk.data(), read);
  }
}

// Runs the exchange on a request that is already open and parked in the slot.
FetchOutcome Exchange(HINTERNET request) {
  if (!::WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0,  // headers were added before
                            WINHTTP_NO_REQUEST_DATA, 0,                 // GET has no body
                            0,                                          // total length
                            0)) {                                       // no context
    return LastErrorFailure();
  }
  if (!::WinHttpReceiveResponse(request, nullptr)) return LastErrorFailure();

  DWORD status = 0;
  DWORD size = sizeof(status);
  if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
    return LastErrorFailure();
  }
  // A 3xx is not followed: the configuration has one fixed URL.
  if (status >= 300 && status < 400) return Failure(0, status);
  if (status != kHttpOk) return Failure(0, status);

  FetchOutcome outcome;
  DWORD error = 0;
  if (!ReadBody(request, outcome.body, error)) return Failure(error, status);
  error = CheckFraming(request, outcome.body);
  if (error != ERROR_SUCCESS) return Failure(error, status);
  outcome.state = kFetchSucceeded;
  outcome.secondError = static_cast<int32_t>(status);
  return outcome;
}

}  // namespace

FetchOutcome FetchUrl(const std::wstring& url, CRequestSlot& slot) {
  const std::optional<UrlParts> parts = SplitUrl(url);
  if (!parts) return LastErrorFailure();
  const std::optional<ConnectTarget> connectTo = ConnectOverride();
  const ConnectTarget& target = connectTo ? *connectTo : parts->origin;

  // No proxy: the stand-in talks to the host (or the override) directly.
  CUniqueInternet session(::WinHttpOpen(L"Wirelink/1.0", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                        WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS,
                                        0));  // synchronous
  if (!session) return LastErrorFailure();
  ::WinHttpSetTimeouts(session.Get(), kPhaseTimeoutMs, kPhaseTimeoutMs, kPhaseTimeoutMs,
                       kPhaseTimeoutMs);

  CUniqueInternet connection(::WinHttpConnect(session.Get(), target.host.c_str(), target.port, 0));
  if (!connection) return LastErrorFailure();

  CUniqueInternet request(::WinHttpOpenRequest(
      connection.Get(), L"GET", parts->pathAndQuery.c_str(),
      nullptr,  // HTTP/1.1
      WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, parts->secure ? WINHTTP_FLAG_SECURE : 0));
  if (!request) return LastErrorFailure();
  // Redirects are never followed, by feature and by policy.
  DWORD disabled = WINHTTP_DISABLE_REDIRECTS;
  DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  if (!::WinHttpSetOption(request.Get(), WINHTTP_OPTION_DISABLE_FEATURE, &disabled,
                          sizeof disabled) ||
      !::WinHttpSetOption(request.Get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy)) {
    return LastErrorFailure();
  }
  if (connectTo &&
      !::WinHttpAddRequestHeaders(request.Get(), HostHeader(*parts).c_str(),
                                  static_cast<DWORD>(-1),  // zero-terminated
                                  WINHTTP_ADDREQ_FLAG_REPLACE | WINHTTP_ADDREQ_FLAG_ADD)) {
    return LastErrorFailure();
  }

  const HINTERNET raw = request.Get();
  if (!slot.Hold(raw)) return Failure(ERROR_WINHTTP_OPERATION_CANCELLED);
  request.Release();
  FetchOutcome outcome = Exchange(raw);
  // Null when Release aborted the request: it was closed then.
  CUniqueInternet finished(slot.Return());
  return outcome;
}
