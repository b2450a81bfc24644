#pragma once

#include <windows.h>

#include "common/temp_tree.h"
#include "support/utf8.h"

#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kvtest {

using ::Widen;

// Build-time paths are Unix paths; Wine shows the Unix root as drive Z:.
std::filesystem::path FromBuildPath(const char* unixPath);

// Time allowances for waits that only a fault should run out. Under
// emulation (scripts/vm-run sets KVFETCH_TIME_SCALE) everything runs many
// times slower, so they stretch by that factor; natively it is 1.
DWORD ScaledMs(DWORD ms);

struct ProcessResult {
  DWORD exitCode = 0;
  std::string out;  // standard output, byte for byte
  bool timedOut = false;
};

// Runs a program with its standard output captured and standard input and
// error closed. The exit code comes from GetExitCodeProcess, the full 32 bits.
// The timeout is scaled (ScaledMs).
ProcessResult RunProcess(const std::filesystem::path& exe, const std::wstring& args = L"",
                         const std::vector<std::pair<std::wstring, std::wstring>>& extraEnv = {},
                         DWORD timeoutMs = 120000);

// A one-response-per-connection HTTP/1.1 server on 127.0.0.1 and a free port.
class CLoopbackHttpServer {
 public:
  struct Reply {
    int status = 200;
    std::string body;
    bool hang = false;  // accept and read, but never answer until shutdown
    // When not empty, sent as it is instead of the response made from
    // `status` and `body` (for broken framing and redirects).
    std::string raw = {};
  };

  explicit CLoopbackHttpServer(Reply reply);
  ~CLoopbackHttpServer();
  CLoopbackHttpServer(const CLoopbackHttpServer&) = delete;
  CLoopbackHttpServer& operator=(const CLoopbackHttpServer&) = delete;

  int Port() const { return m_port; }
  int RequestCount() const { return m_requests.load(); }
  std::string LastRequest() const;

 private:
  void Serve();
  void Answer(uintptr_t client);

  Reply m_reply;
  uintptr_t m_listener;
  int m_port = 0;
  std::atomic<int> m_requests{0};
  std::atomic<bool> m_stopping{false};
  mutable std::mutex m_mutex;
  std::string m_lastRequest;
  std::thread m_thread;
};

}  // namespace kvtest
