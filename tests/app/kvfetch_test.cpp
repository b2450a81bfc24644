// kvfetch.exe as its caller sees it: a copy of the deployed tree in a
// temporary folder, a real or scripted network library two levels above the
// program, and only the exact stdout bytes and the 32-bit exit code to judge.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "common/deployment.h"
#include "pe_imports.h"

namespace {

using kvtest::CDeployment;
using kvtest::CLoopbackHttpServer;
using kvtest::ClosedPort;
using kvtest::kConfig;
using kvtest::kExitFetched;
using kvtest::kExitFetchFailed;
using kvtest::ProcessResult;
using kvtest::Sealed;

std::string Echoed(const std::string& text) { return "[" + text + "]"; }

void ExpectRun(const ProcessResult& result, const std::string& out, DWORD exitCode) {
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.out, out);
  EXPECT_EQ(result.exitCode, exitCode);
}

TEST(KvfetchTest, PrintsTheRenderingOfTheFetchedConfiguration) {
  CLoopbackHttpServer server({200, SealConfigEnvelope(R"({ "ttl": 300,
    "appid": "kv-demo" })")});
  CDeployment deployment(KV_DECODER_STANDIN);
  deployment.Place(KV_WIRELINK_TRUSTED, "Wirelink.dll");

  // The stand-in decoder renders compactly, on one line; nothing is added.
  ExpectRun(deployment.Run(server.Port()), kConfig, kExitFetched);

  ASSERT_EQ(server.RequestCount(), 1);
  const std::string request = server.LastRequest();
  EXPECT_EQ(request.rfind("GET /live/vip/getKvConfig HTTP/1.1\r\n", 0), 0u) << request;
  std::string lowered = request;
  std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  EXPECT_NE(lowered.find("\r\nhost: " KV_SERVICE_HOST "\r\n"), std::string::npos) << request;
}

TEST(KvfetchTest, ArgumentsHaveNoEffect) {
  CLoopbackHttpServer server({200, Sealed()});
  CDeployment deployment(KV_DECODER_ECHO);
  deployment.Place(KV_WIRELINK_TRUSTED, "Wirelink.dll");

  ExpectRun(deployment.Run(server.Port(), L"--url http://127.0.0.1:1/ -v \"a b\" /?"),
            Echoed(kConfig), kExitFetched);
  EXPECT_EQ(server.RequestCount(), 1);
}

// What the envelope rules make of a body is proven in-process
// (HostileBodiesTest), and the bodies whose handling lives in the program go
// through it in HostileEnvelopeStressTest; the stand-in owns which statuses
// fail (WirelinkStandInTest). Here: a failed fetch never calls the decoder.
TEST(KvfetchTest, AnHttpErrorFailsWithoutCallingTheDecoder) {
  CLoopbackHttpServer server({404, Sealed()});
  CDeployment deployment(KV_DECODER_ECHO);
  deployment.Place(KV_WIRELINK_TRUSTED, "Wirelink.dll");
  ExpectRun(deployment.Run(server.Port()), "", kExitFetchFailed);
}

TEST(KvfetchTest, FailsWhenNobodyListens) {
  CDeployment deployment(KV_DECODER_ECHO);
  deployment.Place(KV_WIRELINK_TRUSTED, "Wirelink.dll");
  ExpectRun(deployment.Run(ClosedPort()), "", kExitFetchFailed);
}

// The search's rules (levels, the fallback, unsigned files) are proven
// through the loader itself (NetLibraryTest); here, with the real stand-in
// signed three ways, that only a trusted library runs at all.
TEST(KvfetchTest, LoadsOnlyATrustedLibraryTwoLevelsUp) {
  struct Case {
    const char* name;
    std::vector<kvtest::Placement> libraries;
    DWORD exitCode;
  };
  const Case cases[] = {
      {"no library", {}, kExitFetchFailed},
      {"unlisted publisher", {{KV_WIRELINK_UNLISTED, "Wirelink.dll"}}, kExitFetchFailed},
      {"trusted", {{KV_WIRELINK_TRUSTED, "Wirelink.dll"}}, kExitFetched},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CLoopbackHttpServer server({200, Sealed()});
    CDeployment deployment(KV_DECODER_ECHO);
    deployment.Place(c.libraries);

    const bool fetched = c.exitCode == kExitFetched;
    ExpectRun(deployment.Run(server.Port()), fetched ? Echoed(kConfig) : "", c.exitCode);
    // A library that was refused never ran: nothing reached the server.
    EXPECT_EQ(server.RequestCount(), fetched ? 1 : 0);
  }
}

TEST(KvfetchTest, WritesTheDecoderBufferByteForByte) {
  const std::string multiLine = "{\"appid\":\"kv-demo\",\r\n\"note\":\"a\\nb\"}\n";
  struct Case {
    const char* name;
    const char* decoder;
    std::string config;
    std::string out;
  };
  const Case cases[] = {
      // Binary stdout: "\n" is not widened to "\r\n", "\r\n" stays as it is.
      {"line breaks", KV_DECODER_ECHO, multiLine, Echoed(multiLine)},
      // No terminator in the buffer: exactly its 1024 bytes, nothing beyond.
      {"full buffer", KV_DECODER_FILL, kConfig, std::string(1024, 'A')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CLoopbackHttpServer server({200, Sealed(c.config)});
    CDeployment deployment(c.decoder);
    deployment.Place(KV_WIRELINK_TRUSTED, "Wirelink.dll");
    ExpectRun(deployment.Run(server.Port()), c.out, kExitFetched);
  }
}

// A decoder that writes past the 1024-byte buffer never ends in a status that
// passes for a fetch or a failed fetch, and nothing of the corrupted run is
// printed. A write that stays in the stack reaches the cookie, and kvfetch
// ends as a failed /GS check does; one that runs off the top of the main
// thread's stack faults inside the decoder, before kvfetch has control back
// (Wine 10 leaves 1,380 bytes above the buffer, Wine 8 more than 512).
TEST(KvfetchTest, ADecoderOverrunEndsTheProcessAbnormally) {
  struct Case {
    const char* decoder;
    std::vector<DWORD> statuses;
  };
  const Case cases[] = {
      {KV_DECODER_OVERRUN_NEAR, {STATUS_STACK_BUFFER_OVERRUN}},
      {KV_DECODER_OVERRUN, {STATUS_STACK_BUFFER_OVERRUN, STATUS_ACCESS_VIOLATION}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.decoder);
    CLoopbackHttpServer server({200, Sealed()});
    CDeployment deployment(c.decoder);
    deployment.Place(KV_WIRELINK_TRUSTED, "Wirelink.dll");
    const ProcessResult result = deployment.Run(server.Port());
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(std::find(c.statuses.begin(), c.statuses.end(), result.exitCode), c.statuses.end())
        << "exit status 0x" << std::hex << result.exitCode;
  }
}

// Outcomes no server can produce, from the scripted library (fake_network_library.cpp).
// The adapter's rules for every kind of report, synchronous ones inside
// Start included, are proven in-process (HttpTaskAdapterGetTest); here a
// failure report and a success after progress reports travel through the
// program from the library's own thread.
TEST(KvfetchTest, ScriptedLibraryOutcomes) {
  struct Case {
    const char* name;
    const char* script;
    std::string out;
    DWORD exitCode;
  };
  const Case cases[] = {
      {"failure report", "report 3 12029 0\n", "", kExitFetchFailed},
      {"progress, then success", "report 0 0 0\nreport 1 0 0\nreport 2 0 200 envelope.json\n",
       Echoed(kConfig), kExitFetched},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CDeployment deployment(KV_DECODER_ECHO);
    deployment.Place(KV_FAKE_NETWORK_LIBRARY, "Wirelink.dll");
    deployment.Write("envelope.json", Sealed());
    deployment.Write("fake_network.txt", c.script);
    ExpectRun(deployment.Run(), c.out, c.exitCode);
  }
}

// The real 30 seconds, waited out once for both ways a request can hang:
// a library that reports only progress, and the stand-in with a server that
// never answers, which must abort the request in flight when kvfetch gives
// up and releases it, without hanging or crashing the process.
TEST(KvfetchTest, GivesUpAfterThirtySeconds) {
  CDeployment progressOnly(KV_DECODER_ECHO);
  progressOnly.Place(KV_FAKE_NETWORK_LIBRARY, "Wirelink.dll");
  progressOnly.Write("fake_network.txt", "report 0 0 0\nreport 1 0 0\n");
  CLoopbackHttpServer server({200, Sealed(), /*hang=*/true});
  CDeployment silentServer(KV_DECODER_ECHO);
  silentServer.Place(KV_WIRELINK_TRUSTED, "Wirelink.dll");

  struct Timed {
    ProcessResult result;
    std::chrono::steady_clock::duration waited;
  };
  const auto timedRun = [](const CDeployment& deployment, int port) {
    const auto start = std::chrono::steady_clock::now();
    ProcessResult result = deployment.Run(port);
    return Timed{result, std::chrono::steady_clock::now() - start};
  };
  auto silent = std::async(std::launch::async, timedRun, std::cref(silentServer), server.Port());
  const Timed progress = timedRun(progressOnly, 0);
  const Timed hung = silent.get();

  for (const Timed& run : {progress, hung}) {
    ExpectRun(run.result, "", kExitFetchFailed);
    // Progress reports do not end the wait early.
    EXPECT_GE(run.waited, std::chrono::milliseconds(29500));
  }
  EXPECT_EQ(server.RequestCount(), 1);
}

bool IsSystemDll(std::string name) {
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  static const char* const kSystemDlls[] = {"kernel32.dll", "msvcrt.dll",  "shlwapi.dll",
                                            "wintrust.dll", "crypt32.dll", "advapi32.dll",
                                            "user32.dll"};
  return std::find(std::begin(kSystemDlls), std::end(kSystemDlls), name) != std::end(kSystemDlls);
}

// The decoding library is bound at load time by ordinal 6 only; the network
// library must never be bound at load time, since it is checked before loading.
TEST(KvfetchImportsTest, OnlySystemDllsAndTheDecoderOrdinal) {
  const auto imports = kvtest::FromBuildPath(KV_KVFETCH_EXE);
  const auto dlls = ReadImports32(imports);
  ASSERT_TRUE(dlls.has_value());

  int decoderImports = 0;
  for (const ImportedDll& dll : *dlls) {
    SCOPED_TRACE(dll.name);
    if (dll.name == "QXSDK2.dll") {
      ++decoderImports;
      ASSERT_EQ(dll.functions.size(), 1u);
      EXPECT_TRUE(dll.functions[0].byOrdinal);
      EXPECT_EQ(dll.functions[0].ordinal, 6);
    } else {
      EXPECT_TRUE(IsSystemDll(dll.name));
    }
  }
  EXPECT_EQ(decoderImports, 1);
}

}  // namespace
