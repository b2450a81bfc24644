// kvfetch.exe beside libraries built with Microsoft's ABI (see
// CMakeLists.txt): a network library whose classes MSVC lays out, and
// QXSDK2.dll with ordinal 6 as __cdecl and as __stdcall. kvfetch runs with
// Wine's heap checks on; Wine writes their messages to this test's own
// standard error, where CTest fails the test on any "err:heap:" or
// "warn:heap:" line (CMakeLists.txt). So a free of a pointer the heap never
// handed out fails the run even where the output still looks right.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "common/test_support.h"
#include "common/deployment.h"
#include "kvseal/seal_core.h"

namespace {

using kvtest::CDeployment;
using kvtest::ProcessResult;

constexpr DWORD kExitFetched = 0;
constexpr DWORD kExitFetchFailed = 0xFFFFFFFF;
constexpr char kConfig[] = R"({"appid":"kv-msvc","ttl":60})";

struct Case {
  const char* name;
  const char* networkMode;  // first line of msvc_network.txt
  const char* decoder;
  const char* marker;  // what the decoder writes before "[text]"
  bool fetched;
};

TEST(MsvcAbiTest, KvfetchRunsAgainstMsvcBuiltLibraries) {
  const Case cases[] = {
      {"report from the library's thread, __cdecl decoder", "thread", KV_MSVC_DECODER_CDECL,
       "cdecl", true},
      {"report from the library's thread, __stdcall decoder", "thread", KV_MSVC_DECODER_STDCALL,
       "stdcall", true},
      {"report from inside Start, __cdecl decoder", "inline", KV_MSVC_DECODER_CDECL, "cdecl", true},
      {"report from inside Start, __stdcall decoder", "inline", KV_MSVC_DECODER_STDCALL, "stdcall",
       true},
      {"failure report, __stdcall decoder", "fail", KV_MSVC_DECODER_STDCALL, "stdcall", false},
  };
  // Zero filler ends the deciphered text at the configuration's last byte.
  const std::string envelope = SealConfigEnvelope(kConfig, kConfigKey, SealPadding::kZero);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CDeployment deployment(c.decoder);
    deployment.Place(KV_MSVC_NETWORK, "Wirelink.dll");
    deployment.Write("msvc_network.txt", std::string(c.networkMode) + "\n" + envelope);

    const ProcessResult result =
        kvtest::RunProcess(deployment.Root() / L"app" / L"bin" / L"kvfetch.exe", L"",
                           {{L"WINEDEBUG", L"err+heap,warn+heap"}});

    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.out, c.fetched ? std::string(c.marker) + "[" + kConfig + "]" : "");
    EXPECT_EQ(result.exitCode, c.fetched ? kExitFetched : kExitFetchFailed);
  }
}

}  // namespace
