#pragma once

// A copy of the deployed tree in a temporary folder, for tests that run
// kvfetch.exe (and the tools staged beside it) as their callers do, and what
// those tests publish and expect. The including test target defines
// KV_KVFETCH_EXE.

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "common/test_support.h"
#include "kvseal/seal_core.h"

namespace kvtest {

// kvfetch's exit codes as its caller reads them, all 32 bits.
constexpr DWORD kExitFetched = 0;
constexpr DWORD kExitFetchFailed = 0xFFFFFFFF;

constexpr char kConfig[] = R"({"appid":"kv-demo","ttl":300})";

// Zero filler ends the deciphered text at the configuration's last byte as
// the decoder reads it, so the echo decoder's output is predictable.
inline std::string Sealed(const std::string& config = kConfig) {
  return SealConfigEnvelope(config, kConfigKey, SealPadding::kZero);
}

// ROOT/app/bin/kvfetch.exe beside a QXSDK2.dll; the network library, if any,
// goes two levels up, at ROOT.
class CDeployment {
 public:
  explicit CDeployment(const char* decoder) {
    m_exe = m_tree.Copy(FromBuildPath(KV_KVFETCH_EXE), "app/bin/kvfetch.exe");
    m_tree.Copy(FromBuildPath(decoder), "app/bin/QXSDK2.dll");
  }

  // Another program beside kvfetch.exe; returns its path in the tree.
  std::filesystem::path AddProgram(const char* buildFile, const std::string& name) const {
    return m_tree.Copy(FromBuildPath(buildFile), "app/bin/" + name);
  }
  void Place(const char* buildFile, const std::string& relative) const {
    m_tree.Copy(FromBuildPath(buildFile), relative);
  }
  void Place(const std::vector<Placement>& placements) const {
    for (const Placement& placement : placements) {
      if (placement.file) {
        Place(placement.file, placement.relative);
      } else {
        m_tree.Dir(placement.relative);
      }
    }
  }
  void Write(const std::string& relative, const std::string& bytes) const {
    m_tree.Write(relative, bytes);
  }
  const std::filesystem::path& Root() const { return m_tree.Root(); }

  // port 0: no redirect, the library resolves the service host itself.
  ProcessResult Run(int port = 0, const std::wstring& args = L"") const {
    return RunProgram(m_exe, port, args);
  }
  ProcessResult RunProgram(const std::filesystem::path& exe, int port = 0,
                           const std::wstring& args = L"") const {
    std::vector<std::pair<std::wstring, std::wstring>> env;
    if (port != 0) env.emplace_back(L"WIRELINK_CONNECT_TO", L"127.0.0.1:" + std::to_wstring(port));
    return RunProcess(exe, args, env);
  }

 private:
  CTempTree m_tree;
  std::filesystem::path m_exe;
};

// A port that was free a moment ago and has nobody listening now.
inline int ClosedPort() {
  CLoopbackHttpServer server({});
  return server.Port();
}

}  // namespace kvtest
