// The shipped kvfetch.exe on a system that reports Windows XP: Wine's
// per-program "Version" setting makes GetVersionExW report 5.1, and below
// Vista kvfetch loads the network library without verifying it.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>

#include "common/deployment.h"
#include "common/test_support.h"
#include "kvseal/seal_core.h"

namespace {

using kvtest::CDeployment;
using kvtest::CLoopbackHttpServer;

constexpr char kConfig[] = R"({"appid":"kv-xp"})";
constexpr DWORD kExitFetched = 0;
constexpr DWORD kExitFetchFailed = 0xFFFFFFFF;

struct KeyDeletor {
  void operator()(HKEY key) const { ::RegCloseKey(key); }
};
using CUniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyDeletor>;

// Wine reads HKCU\Software\Wine\AppDefaults\<program>.exe\Version when a
// program of that name starts; the key goes again with this object.
class CWineVersionOverride {
 public:
  CWineVersionOverride(const std::wstring& program, const std::wstring& version)
      : m_path(L"Software\\Wine\\AppDefaults\\" + program) {
    HKEY raw = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, m_path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                          &raw, nullptr) != ERROR_SUCCESS) {
      return;
    }
    CUniqueKey key(raw);
    const auto bytes = static_cast<DWORD>((version.size() + 1) * sizeof(wchar_t));
    m_set =
        ::RegSetValueExW(key.get(), L"Version", 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(version.c_str()), bytes) == ERROR_SUCCESS;
  }
  ~CWineVersionOverride() { ::RegDeleteKeyW(HKEY_CURRENT_USER, m_path.c_str()); }
  CWineVersionOverride(const CWineVersionOverride&) = delete;
  CWineVersionOverride& operator=(const CWineVersionOverride&) = delete;

  bool Set() const { return m_set; }

 private:
  std::wstring m_path;
  bool m_set = false;
};

TEST(LegacyWindowsTest, BelowVistaAnUnsignedNetworkLibraryIsLoaded) {
  CLoopbackHttpServer server({200, SealConfigEnvelope(kConfig)});
  CDeployment deployment(KV_DECODER_STANDIN);
  deployment.Place(KV_WIRELINK_UNSIGNED, "Wirelink.dll");
  // A name of its own, so that the setting reaches no other test's kvfetch.
  const auto legacy = deployment.AddProgram(KV_KVFETCH_EXE, "kvfetch-xp-legacy.exe");
  const CWineVersionOverride winxp(L"kvfetch-xp-legacy.exe", L"winxp");
  ASSERT_TRUE(winxp.Set());

  struct Case {
    const char* name;
    std::filesystem::path exe;
    std::string out;
    DWORD exitCode;
  } const cases[] = {
      {"reported as XP: accepted unverified", legacy, kConfig, kExitFetched},
      {"reported as the prefix's Windows: refused", deployment.Root() / "app/bin/kvfetch.exe", "",
       kExitFetchFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const kvtest::ProcessResult result = deployment.RunProgram(c.exe, server.Port());
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.exitCode, c.exitCode);
  }
  EXPECT_EQ(server.RequestCount(), 1);
}

}  // namespace
