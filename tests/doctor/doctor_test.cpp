// kvfetch-doctor.exe beside kvfetch.exe in a temporary copy of the deployed
// tree. In every scenario both programs run against the same library and
// server: the doctor must explain the outcome, and its exit code must be
// kvfetch's.
#include <gtest/gtest.h>
#include <json/json.h>
#include <windows.h>

#include <algorithm>
#include <future>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "common/deployment.h"
#include "payload/config_envelope.h"
#include "support/envelope_checks.h"

namespace {

namespace fs = std::filesystem;
using kvtest::CDeployment;
using kvtest::CLoopbackHttpServer;
using kvtest::kConfig;
using kvtest::kExitFetched;
using kvtest::kExitFetchFailed;
using kvtest::ProcessResult;
using kvtest::Sealed;

constexpr char kUrl[] = "http://" KV_SERVICE_HOST "/live/vip/getKvConfig";

// The doctor's lines and JSON, and kvfetch where the scenario needs it
// beside them, all in the same deployment.
struct Runs {
  std::optional<ProcessResult> kvfetch;
  ProcessResult text;
  ProcessResult json;
  Json::Value report;
};

class CDoctorDeployment : public CDeployment {
 public:
  CDoctorDeployment() : CDeployment(KV_DECODER_STANDIN) {
    m_doctor = AddProgram(KV_DOCTOR_EXE, "kvfetch-doctor.exe");
  }

  // kvfetch, the lines and the JSON, all at once.
  Runs RunAll(int port = 0) const {
    auto kvfetch = std::async(std::launch::async, [&] { return Run(port); });
    Runs runs = RunDoctor(port);
    runs.kvfetch = kvfetch.get();
    return runs;
  }

  // The doctor alone, where kvfetch's exit code in the same scenario is
  // proven by kvfetch's own tests.
  Runs RunDoctor(int port = 0) const {
    auto text = std::async(std::launch::async, [&] { return RunProgram(m_doctor, port); });
    auto json =
        std::async(std::launch::async, [&] { return RunProgram(m_doctor, port, L"--json"); });
    Runs runs{std::nullopt, text.get(), json.get(), Json::Value()};
    Parse(runs.json.out, runs.report);
    return runs;
  }

 private:
  static void Parse(const std::string& text, Json::Value& value) {
    std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    std::string errors;
    EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &value, &errors))
        << errors << "\n"
        << text;
  }

  fs::path m_doctor;
};

// The doctor's line that starts with `prefix`, without its line break.
std::string Line(const std::string& out, const std::string& prefix) {
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind(prefix, 0) == 0) return line;
  }
  return "(no line \"" + prefix + "\")";
}

// Both programs ended on their own with the same 32-bit exit code.
void ExpectSameExit(const Runs& runs, DWORD exitCode) {
  if (runs.kvfetch) {
    EXPECT_FALSE(runs.kvfetch->timedOut);
    EXPECT_EQ(runs.kvfetch->exitCode, exitCode);
  }
  EXPECT_FALSE(runs.text.timedOut);
  EXPECT_FALSE(runs.json.timedOut);
  EXPECT_EQ(runs.text.exitCode, exitCode);
  EXPECT_EQ(runs.json.exitCode, exitCode);
  EXPECT_EQ(runs.report["exitStatus"].asInt(), static_cast<int>(exitCode));
  const std::string status = exitCode == kExitFetched ? "exit status: 0 " : "exit status: -1 ";
  EXPECT_EQ(Line(runs.text.out, "exit status:").rfind(status, 0), 0u) << runs.text.out;
}

void ExpectContains(const std::string& text, const std::string& part) {
  EXPECT_NE(text.find(part), std::string::npos) << "expected \"" << part << "\" in\n" << text;
}

TEST(DoctorTest, ExplainsASuccessfulFetch) {
  const std::string body = Sealed();
  CLoopbackHttpServer server({200, body});
  CDoctorDeployment deployment;
  deployment.Place(KV_WIRELINK_TRUSTED, "Wirelink.dll");
  const Runs runs = deployment.RunAll(server.Port());
  ExpectSameExit(runs, kExitFetched);
  EXPECT_EQ(server.RequestCount(), 3);

  // Its own path leads it to the folder kvfetch searches.
  const std::string root = Utf8(deployment.Root().wstring());
  const std::string& out = runs.text.out;
  EXPECT_EQ(Line(out, "library directory:"), "library directory: " + root);
  EXPECT_EQ(Line(out, "candidate Wirelink.dll:"),
            "candidate Wirelink.dll: " + root +
                "\\Wirelink.dll present; signature 0x00000000 "
                "(ERROR_SUCCESS) accepted; signer \"" KV_TRUSTED_SIGNER
                "\" listed -> trusted; loaded");
  ExpectContains(Line(out, "loaded:"), "exports HttpInit yes, HttpUninit yes");
  ExpectContains(Line(out, "loaded:"), "factory yes");
  EXPECT_EQ(Line(out, "request:"), std::string("request: GET ") + kUrl + " -> success, " +
                                       std::to_string(body.size()) + " bytes");
  ExpectContains(Line(out, "envelope:"), "-> accepted");
  // Zero filler up to a whole Blowfish block stays in the text; the decoder
  // reads up to the first NUL.
  EXPECT_EQ(Line(out, "configuration text:"),
            "configuration text: 32 bytes (QXSDK2.dll reads 29, up to a NUL byte), "
            "appid \"kv-demo\"");
  static_assert(sizeof(kConfig) - 1 == 29, "the lengths above assume this configuration");

  const Json::Value& report = runs.report;
  EXPECT_EQ(report["libraryDirectory"].asString(), root);
  EXPECT_EQ(report["candidates"].size(), 1u);
  EXPECT_EQ(report["candidates"][0]["publisher"]["signer"].asString(), KV_TRUSTED_SIGNER);
  EXPECT_TRUE(report["candidates"][0]["publisher"]["trusted"].asBool());
  EXPECT_EQ(report["candidates"][0]["load"].asString(), "loaded");
  EXPECT_TRUE(report["library"]["usable"].asBool());
  EXPECT_EQ(report["request"]["url"].asString(), kUrl);
  EXPECT_EQ(report["request"]["outcome"].asString(), "success");
  EXPECT_EQ(report["request"]["bodyLength"].asUInt64(), body.size());
  EXPECT_TRUE(report["envelope"]["accepted"].asBool());
  EXPECT_EQ(report["configuration"]["appid"].asString(), "kv-demo");
  EXPECT_EQ(report["configuration"]["length"].asUInt(), 32u);
  EXPECT_EQ(report["configuration"]["lengthRead"].asUInt(), 29u);
  EXPECT_FALSE(report["decoder"]["called"].asBool());
}

// Each check's name and text are proven in-process (DoctorReportTest); here
// a refusal travels from a real body to both reports.
TEST(DoctorTest, ExplainsARefusedEnvelope) {
  std::string refusedErrno = Sealed();
  refusedErrno.replace(refusedErrno.find("\"errno\":0"), 9, "\"errno\":2");
  CLoopbackHttpServer server({200, refusedErrno});
  CDoctorDeployment deployment;
  deployment.Place(KV_WIRELINK_TRUSTED, "Wirelink.dll");
  const Runs runs = deployment.RunDoctor(server.Port());

  // A refused envelope is still a successful fetch.
  ExpectSameExit(runs, kExitFetched);
  const std::string envelope = Line(runs.text.out, "envelope:");
  ExpectContains(envelope, std::string("refused (") +
                               DescribeEnvelopeCheck(EnvelopeCheck::kErrnoNonZero) +
                               ") -> refused");
  ExpectContains(envelope, "errno 2 refused");
  ExpectContains(Line(runs.text.out, "configuration text:"), "empty");
  EXPECT_EQ(runs.report["envelope"]["refusedBy"].asString(), "errno");
  EXPECT_EQ(runs.report["envelope"]["errno"].asInt(), 2);
  EXPECT_FALSE(runs.report["envelope"]["accepted"].asBool());
  EXPECT_TRUE(runs.report["configuration"].isNull());
}

TEST(DoctorTest, ExplainsFailedRequests) {
  struct Case {
    const char* name;
    bool library;
    int port;  // 0: a server answering 404, or `raw`
    std::string requestLine;
    const char* outcome;
    std::string raw;  // the server's whole answer, when not empty
  };
  const int closedPort = kvtest::ClosedPort();
  const std::string ok = "HTTP/1.1 200 OK\r\nConnection: close\r\n";
  const Case cases[] = {
      {"HTTP 404", true, 0, "-> failure err_0_404 (HTTP status 404)", "failure", ""},
      {"nobody listening", true, closedPort,
       "-> failure err_12029_0 (ERROR_WINHTTP_CANNOT_CONNECT: cannot connect)", "failure", ""},
      {"no library", false, closedPort,
       "-> not made: no request factory (no usable network library)", "no_factory", ""},
      {"redirect", true, 0,
       "-> failure err_0_302 (HTTP status 302, a redirect, which is not followed)", "failure",
       "HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:{PORT}/other\r\nContent-Length: "
       "0\r\n\r\n" +
           Sealed()},
      {"short body", true, 0,
       "-> failure err_12030_200 (ERROR_WINHTTP_CONNECTION_ERROR: connection reset or closed "
       "before the whole response arrived)",
       "failure", ok + "Content-Length: 213\r\n\r\n" + Sealed().substr(0, 40)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CLoopbackHttpServer server({404, Sealed(), false, c.raw});
    CDoctorDeployment deployment;
    if (c.library) deployment.Place(KV_WIRELINK_TRUSTED, "Wirelink.dll");
    // kvfetch's -1 on each of these: KvfetchTest.
    const Runs runs = deployment.RunDoctor(c.port != 0 ? c.port : server.Port());

    ExpectSameExit(runs, kExitFetchFailed);
    EXPECT_EQ(Line(runs.text.out, "request:"),
              std::string("request: GET ") + kUrl + " " + c.requestLine);
    EXPECT_EQ(Line(runs.text.out, "envelope:"), "envelope: not checked (the fetch failed)");
    EXPECT_EQ(runs.report["request"]["outcome"].asString(), c.outcome);
    EXPECT_TRUE(runs.report["envelope"].isNull());
  }
}

TEST(DoctorTest, ExplainsWhichLibraryIsTrustedAndLoaded) {
  struct Case {
    const char* name;
    std::vector<kvtest::Placement> libraries;
    std::string wirelink;  // expected end of the Wirelink.dll line
    std::string wirecore;  // of the Wirecore.dll line; empty: not looked at
    DWORD exitCode;
  };
  const Case cases[] = {
      {"no library", {}, "Wirelink.dll missing", "Wirecore.dll missing", kExitFetchFailed},
      {"unsigned",
       {{KV_WIRELINK_UNSIGNED, "Wirelink.dll"}},
       ") refused -> not trusted",
       "Wirecore.dll missing",
       kExitFetchFailed},
      {"unlisted, trusted Wirecore",
       {{KV_WIRELINK_UNLISTED, "Wirelink.dll"}, {KV_WIRELINK_TRUSTED, "Wirecore.dll"}},
       "signer \"" KV_UNLISTED_SIGNER "\" not listed -> not trusted",
       "signer \"" KV_TRUSTED_SIGNER "\" listed -> trusted; loaded",
       kExitFetched},
      {"trusted Wirelink wins",
       {{KV_WIRELINK_TRUSTED, "Wirelink.dll"}, {KV_WIRELINK_UNSIGNED, "Wirecore.dll"}},
       "listed -> trusted; loaded",
       "",
       kExitFetched},
      // No file: a folder of that name.
      {"a folder named Wirelink.dll",
       {{nullptr, "Wirelink.dll"}},
       "present; not a regular file (a folder); signature 0x00000005 (ERROR_ACCESS_DENIED) "
       "refused -> not trusted",
       "Wirecore.dll missing",
       kExitFetchFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CLoopbackHttpServer server({200, Sealed()});
    CDoctorDeployment deployment;
    deployment.Place(c.libraries);
    const Runs runs = deployment.RunAll(server.Port());

    ExpectSameExit(runs, c.exitCode);
    const std::string wirelink = Line(runs.text.out, "candidate Wirelink.dll:");
    EXPECT_EQ(wirelink.substr(wirelink.size() - std::min(wirelink.size(), c.wirelink.size())),
              c.wirelink);
    const std::string wirecore = Line(runs.text.out, "candidate Wirecore.dll:");
    const Json::Value& candidates = runs.report["candidates"];
    if (c.wirecore.empty()) {
      EXPECT_EQ(wirecore.rfind("(no line", 0), 0u) << wirecore;
      EXPECT_EQ(candidates.size(), 1u);
    } else {
      EXPECT_EQ(wirecore.substr(wirecore.size() - std::min(wirecore.size(), c.wirecore.size())),
                c.wirecore);
      EXPECT_EQ(candidates.size(), 2u);
    }
    // The JSON agrees with the lines on every candidate's verdict.
    for (const Json::Value& candidate : candidates) {
      SCOPED_TRACE(candidate["name"].asString());
      const bool loaded = candidate["load"].asString() == "loaded";
      EXPECT_EQ(
          Line(runs.text.out, "candidate " + candidate["name"].asString() + ":").find("; loaded") !=
              std::string::npos,
          loaded);
      if (loaded) {
        EXPECT_TRUE(candidate["publisher"]["trusted"].asBool());
      }
    }
    EXPECT_EQ(runs.report["library"].isNull(), c.exitCode == kExitFetchFailed);
  }
}

TEST(DoctorTest, RefusesUnknownArgumentsWithoutARequest) {
  CLoopbackHttpServer server({200, Sealed()});
  CDoctorDeployment deployment;
  deployment.Place(KV_WIRELINK_TRUSTED, "Wirelink.dll");
  const fs::path doctor = deployment.Root() / "app" / "bin" / "kvfetch-doctor.exe";

  const ProcessResult result = deployment.RunProgram(doctor, server.Port(), L"--verbose");
  EXPECT_EQ(result.exitCode, 2u);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(server.RequestCount(), 0);
}

}  // namespace
