// The least a program can do to fetch the configuration: one synchronous
// WinHTTP GET of the service path on 127.0.0.1:PORT, body read and dropped.
// kvfetch's end-to-end time is compared with this one's. With --verify it
// first has the platform verify FILE's Authenticode signature the way
// kvfetch's publisher check asks for it, and nothing more: the difference to
// kvfetch is then what kvfetch adds beyond the platform's own check.
//
// Usage: kv_bare_get PORT [--verify FILE]. Exit code 0 when a 200 answer was
// read whole (and FILE's signature verified).

#include <windows.h>
#include <winhttp.h>

#include <cwchar>
#include <utility>

#include "bare_verify.h"
#include "support/unique_internet.h"

namespace {

constexpr wchar_t kHost[] = L"127.0.0.1";
constexpr wchar_t kPath[] = L"/live/vip/getKvConfig";

DWORD StatusCode(HINTERNET request) {
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
    return 0;
  }
  return status;
}

bool DrainBody(HINTERNET request) {
  char buffer[16384];
  for (;;) {
    DWORD read = 0;
    if (!::WinHttpReadData(request, buffer, sizeof buffer, &read)) return false;
    if (read == 0) return true;
  }
}

bool Fetch(INTERNET_PORT port) {
  const CUniqueInternet session(::WinHttpOpen(L"kv_bare_get", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                              WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS,
                                              0));  // synchronous
  if (!session) return false;
  const CUniqueInternet connection(::WinHttpConnect(session.Get(), kHost, port, 0));
  if (!connection) return false;
  const CUniqueInternet request(::WinHttpOpenRequest(connection.Get(), L"GET", kPath,
                                                     nullptr,  // HTTP/1.1
                                                     WINHTTP_NO_REFERER,
                                                     WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                     0));  // plain HTTP
  if (!request) return false;
  if (!::WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
    return false;
  }
  if (!::WinHttpReceiveResponse(request.Get(), nullptr)) return false;
  return StatusCode(request.Get()) == 200 && DrainBody(request.Get());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2 && !(argc == 4 && std::wcscmp(argv[2], L"--verify") == 0)) return 2;
  const long port = std::wcstol(argv[1], nullptr, 10);
  if (port <= 0 || port > 65535) return 2;
  if (argc == 4 && BareVerifySignature(argv[3]) != ERROR_SUCCESS) return 1;
  return Fetch(static_cast<INTERNET_PORT>(port)) ? 0 : 1;
}
