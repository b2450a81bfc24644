// The doctor's two reports of made-up diagnoses: hostile outside texts come
// out escaped in the lines and intact in the JSON, and every finding the
// lines should name is named.
#include <gtest/gtest.h>
#include <json/json.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <sstream>
#include <string>

#include "common/fake_http_task.h"
#include "common/test_support.h"
#include "diagnosis.h"
#include "json_report.h"
#include "kvseal/seal_core.h"
#include "names.h"
#include "support/envelope_checks.h"
#include "text_report.h"

namespace {

constexpr char kConfig[] = R"({"appid":"kv-demo"})";

std::string EnvelopeWithErrno(const std::string& errnoMember, const std::string& config = kConfig) {
  std::string envelope = SealConfigEnvelope(config);
  return envelope.replace(1, 10, errnoMember);  // {"errno":0,
}

// A successful fetch of `body` through a trusted library.
Diagnosis Fetched(const std::string& body = SealConfigEnvelope(kConfig)) {
  Diagnosis d;
  d.programPath = L"C:\\kv\\app\\bin\\kvfetch-doctor.exe";
  const PublisherVerdict trusted{PublisherStep::kAccepted, true, 0, L"Publisher"};
  d.directoryFound = true;
  d.directory = L"C:\\kv";
  d.candidates = {
      {{L"Wirelink.dll", L"C:\\kv\\Wirelink.dll", true, true, trusted, true, true, true, true, 0},
       FileKind::kRegular}};
  d.url = L"http://kvconfig.example.com/live/vip/getKvConfig";
  d.fetched = true;
  d.request.outcome = HttpGetOutcome::kSucceeded;
  d.body = body;
  InspectFetchedBody(d);
  d.exitStatus = 0;
  return d;
}

// A fetch that ended with `report`, as the real adapter recorded it.
void Failed(Diagnosis& diagnosis, const kvtest::FakeReport& report) {
  kvtest::FakeScript script;
  script.reports = {report};
  script.reportsInsideStart = true;
  kvtest::CFakeTaskFactory factory(script);
  diagnosis.body.clear();
  diagnosis.fetched =
      HttpGet(&factory, diagnosis.url.c_str(), diagnosis.body, 1000, &diagnosis.request);
  diagnosis.exitStatus = -1;
}

using Change = std::function<void(Diagnosis&)>;
Change FailedWith(int32_t first, int32_t second) {
  kvtest::FakeReport report;
  report.state = 3;
  report.firstError = first;
  report.secondError = second;
  return [=](Diagnosis& d) { Failed(d, report); };
}
Change SucceededWithBodyLength(int32_t length) {
  kvtest::FakeReport report;
  report.bodyLength = length;
  return [=](Diagnosis& d) { Failed(d, report); };
}
Change ErrnoSentAs(const std::string& member) {
  return [=](Diagnosis& d) { d = Fetched(EnvelopeWithErrno(member)); };
}
Change Sealing(const std::string& config) {
  return [=](Diagnosis& d) { d = Fetched(SealConfigEnvelope(config)); };
}
Change Candidate(FileKind kind, bool exists, long status) {
  return [=](Diagnosis& d) {
    d.candidates[0].kind = kind;
    d.candidates[0].loader.exists = exists;
    d.candidates[0].loader.verdict = {PublisherStep::kStatusRefused, true, status, L""};
  };
}

TEST(DoctorReportTest, EscapesOutsideTextsAndNamesEveryFinding) {
  const std::wstring fakeSigner = L"X\"\nloaded: C:\\evil.dll; usable yes\r\x1b[2K\x202E";
  struct Case {
    Change change;
    std::string expected;  // in the lines
    std::string json;      // in the JSON report
  };
  const Case cases[] = {
      {[&](Diagnosis& d) { d.candidates[0].loader.verdict.signerName = fakeSigner; },
       R"(signer "X\"\nloaded: C:\\evil.dll; usable yes\r\x1B[2K\u202E" listed)",
       R"("signer" : "X\"\nloaded: C:\\evil.dll; usable yes\r\u001b[2K)"},
      {[](Diagnosis& d) { d.programPath = L"C:\\a\nb\x7f\xD800.exe"; },
       R"(program: C:\a\nb\x7F\uD800.exe)", R"("program" : "C:\\a\nb)"},
      {Sealing("{\"appid\":\"a\\u0000b\xFF\"}"), R"(appid "a\x00b\xFF")", R"("appid" : "a\u0000b)"},
      {FailedWith(0, 302),
       "failure err_0_302 (HTTP status 302, a redirect, which is not followed)\n",
       R"("errorDescription" : "HTTP status 302, a redirect)"},
      {[](Diagnosis& d) {
         d.fetched = false;
         d.request = {HttpGetOutcome::kNoAnswer, {}};
         d.exitStatus = -1;
       },
       "-> no answer within 30000 ms", R"("outcome" : "timeout")"},
      {FailedWith(10060, 0), "(WSAETIMEDOUT: connection timed out)",
       R"("errorDescription" : "WSAETIMEDOUT)"},
      {FailedWith(10054, 0), "(WSAECONNRESET: ", ""},
      {FailedWith(10014, 0), "failure err_10014_0 (unknown error 10014)\n", ""},
      {SucceededWithBodyLength(-1),
       "failure err_body_-1 (a success report without a usable body, which counts as a failure)\n",
       R"("errorDescription" : "a success report)"},
      {FailedWith(12156, 0), "(ERROR_WINHTTP_REDIRECT_FAILED: ", ""},
      {FailedWith(12157, 0), "(ERROR_WINHTTP_SECURE_CHANNEL_ERROR: ", ""},
      {Candidate(FileKind::kRegular, true, 0x7A),
       "signature 0x0000007A (ERROR_INSUFFICIENT_BUFFER) refused", ""},
      {Candidate(FileKind::kFolder, true, 5),
       "present; not a regular file (a folder); signature 0x00000005 (ERROR_ACCESS_DENIED) refused",
       R"("fileKind" : "folder")"},
      {Candidate(FileKind::kOther, false, 0),
       "present, but not a regular file (a FIFO, a device or the like)", R"("fileKind" : "other")"},
      {ErrnoSentAs(""), "errno absent (read as 0) ok", R"("errnoKind" : "absent")"},
      {ErrnoSentAs(R"("errno":2,)"), "errno 2 refused", R"("errnoKind" : "status")"},
      {ErrnoSentAs(R"("errno":"500",)"),
       R"(errno "500" (not a 32-bit integer, so not an error; read as 0) ok)",
       R"("errnoSent" : "500")"},
      {ErrnoSentAs(R"("errno":1.5,)"), "errno 1.5 (not a 32-bit integer", ""},
      {ErrnoSentAs(R"("errno":2147483648,)"), "errno 2147483648 (not a 32-bit", ""},
      {ErrnoSentAs(R"("errno":4294967296,)"), "errno 4294967296 (not a 32-bit", ""},
      {ErrnoSentAs(R"("errno":1e30,)"), "errno 1e+30 (not a 32-bit integer", ""},
      {ErrnoSentAs(R"("errno":true,)"), "errno true (not a 32-bit integer",
       R"("errnoKind" : "not_a_status")"},
      {Sealing(R"({"appid":"kv","list":[1,2)"),
       "appid \"kv\"; not complete JSON: kvfetch accepts it anyway", R"("complete" : false)"},
      {Sealing(R"({"appid":"kv","pad":")" + std::string(1100, 'p') + "\"}"),
       "; as compact JSON it is 1123 bytes, which fills the decoder's 1024-byte buffer: the "
       "rendering kvfetch prints (at most 1023 bytes) may be cut",
       R"("mayBeCut" : true)"},
  };
  const char* const kLinePrefixes[] = {
      "program: ",  "library directory: ",  "candidate ", "loaded: ",     "request: ",
      "envelope: ", "configuration text: ", "decoding: ", "exit status: "};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    Diagnosis diagnosis = Fetched();
    c.change(diagnosis);
    const std::string text = TextReport(diagnosis);
    EXPECT_NE(text.find(c.expected), std::string::npos) << text;
    // No outside text starts a line of its own, or hides a control in one.
    std::istringstream in(text);
    for (std::string each; std::getline(in, each);) {
      bool known = false;
      for (const char* prefix : kLinePrefixes) known = known || each.rfind(prefix, 0) == 0;
      EXPECT_TRUE(known) << each;
      for (const char ch : each) EXPECT_FALSE(ch >= 0 && ch < 0x20) << each;
    }
    // The JSON parses, and holds the texts intact.
    const std::string json = JsonReport(diagnosis);
    std::istringstream jsonIn(json);
    Json::Value report;
    EXPECT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), jsonIn, &report, nullptr));
    EXPECT_NE(json.find(c.json), std::string::npos) << json;
  }
}

TEST(DoctorReportTest, NamesTheEnvelopeCheckThatRefused) {
  const struct {
    std::string body;
    EnvelopeCheck check;
    const char* refusedBy;
  } kCases[] = {
      {"<html>busy</html>", EnvelopeCheck::kNotJsonObject, "json_object"},
      {EnvelopeWithErrno(R"("errno":2,)"), EnvelopeCheck::kErrnoNonZero, "errno"},
      {R"({"errno":0})", EnvelopeCheck::kDataNotString, "data_string"},
      {R"({"errno":0,"data":""})", EnvelopeCheck::kDataEmpty, "data_not_empty"},
      {R"({"errno":0,"data":"@@@@"})", EnvelopeCheck::kDataUndecipherable, "data_deciphered"},
      {SealConfigEnvelope("appid=kv-demo"), EnvelopeCheck::kPlainNotJsonObject,
       "configuration_json_object"},
      {SealConfigEnvelope(R"({"appid":7})"), EnvelopeCheck::kAppidNotString, "appid_string"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.refusedBy);
    const Diagnosis diagnosis = Fetched(c.body);
    const std::string text = TextReport(diagnosis);
    EXPECT_NE(text.find(std::string("refused (") + DescribeEnvelopeCheck(c.check) + ") -> refused"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("configuration text: empty"), std::string::npos) << text;
    std::istringstream json(JsonReport(diagnosis));
    Json::Value report;
    ASSERT_TRUE(Json::parseFromStream(Json::CharReaderBuilder(), json, &report, nullptr));
    EXPECT_EQ(report["envelope"]["refusedBy"].asString(), c.refusedBy);
    EXPECT_FALSE(report["envelope"]["accepted"].asBool());
    EXPECT_TRUE(report["configuration"].isNull());
  }
}

TEST(DoctorReportTest, ClassifiesFiles) {
  const kvtest::CTempTree tree;
  tree.Write("Wirelink.dll", "MZ");
  EXPECT_EQ(ClassifyFile(tree.At("Wirelink.dll").wstring()), FileKind::kRegular);
  EXPECT_EQ(ClassifyFile(tree.Dir("folder.dll").wstring()), FileKind::kFolder);
  EXPECT_EQ(ClassifyFile((tree.Root() / L"missing.dll").wstring()), FileKind::kMissing);
  // A device on the Unix side: Wine lists it but gives no attributes.
  EXPECT_EQ(ClassifyFile(L"Z:\\dev\\null"), FileKind::kOther);
}

}  // namespace
