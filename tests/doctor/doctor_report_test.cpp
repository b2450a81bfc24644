// The doctor's two reports of made-up diagnoses: hostile outside texts come
// out escaped in the lines and intact in the JSON, and every finding the
// lines should name is named.
#include <gtest/gtest.h>
#include <json/json.h>
#include <windows.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "common/test_support.h"
#include "diagnosis.h"
#include "json_report.h"
#include "kvseal/seal_core.h"
#include "names.h"
#include "text_report.h"

namespace {

constexpr char kConfig[] = R"({"appid":"kv-demo"})";

std::string EnvelopeWithErrno(const std::string& errnoMember, const std::string& config = kConfig) {
  std::string envelope = SealConfigEnvelope(config);
  return envelope.replace(1, 10, errnoMember);  // {"errno":0,
}

// A successful fetch of `body` through a trusted library.
Diagnosis Fetched(const std::string& body = SealConfigEnvelope(kConfig)) {
  Diagnosis diagnosis;
  diagnosis.programPath = L"C:\\kv\\app\\bin\\kvfetch-doctor.exe";
  diagnosis.search.directoryFound = true;
  diagnosis.search.directory = L"C:\\kv";
  CandidateReport candidate;
  candidate.name = L"Wirelink.dll";
  candidate.path = L"C:\\kv\\Wirelink.dll";
  candidate.exists = candidate.checked = candidate.loadTried = candidate.usable = true;
  candidate.verdict = {PublisherStep::kAccepted, true, 0, L"Publisher", true, true};
  diagnosis.search.candidates.push_back(candidate);
  diagnosis.candidateKinds.push_back(FileKind::kRegular);
  diagnosis.url = L"http://kvconfig.example.com/live/vip/getKvConfig";
  diagnosis.fetched = true;
  diagnosis.request.outcome = HttpGetOutcome::kSucceeded;
  diagnosis.body = body;
  InspectFetchedBody(diagnosis);
  diagnosis.exitStatus = 0;
  return diagnosis;
}

void Failed(Diagnosis& diagnosis, const std::string& errorText) {
  diagnosis.fetched = false;
  diagnosis.request = {HttpGetOutcome::kFailed, errorText, ""};
  diagnosis.exitStatus = -1;
}

std::string Line(const std::string& text, const std::string& prefix) {
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(prefix, 0) == 0) return line;
  }
  return "(no line \"" + prefix + "\")";
}

TEST(DoctorReportTest, EscapesOutsideTextsAndNamesEveryFinding) {
  const std::wstring fakeSigner = L"X\"\nloaded: C:\\evil.dll; usable yes\r\x1b[2K\x202E";
  const std::string longConfig = R"({"appid":"kv","pad":")" + std::string(1100, 'p') + "\"}";
  struct Case {
    const char* name;
    std::function<void(Diagnosis&)> change;
    const char* line;      // the prefix of the line to look at
    std::string expected;  // in that line
    std::string json;      // in the JSON report
  };
  const Case cases[] = {
      {"signer with a line break", [&](Diagnosis& d) { d.search.candidates[0].verdict.signerName =
                                                           fakeSigner; },
       "candidate ", R"(signer "X\"\nloaded: C:\\evil.dll; usable yes\r\x1B[2K\u202E" listed)",
       R"("signer" : "X\"\nloaded: C:\\evil.dll; usable yes\r\u001b[2K)"},
      {"path with controls", [](Diagnosis& d) { d.programPath = L"C:\\a\nb\x7f\xD800.exe"; },
       "program:", R"(program: C:\a\nb\x7F\uD800.exe)", R"("program" : "C:\\a\nb)"},
      {"appid with NUL and a stray byte",
       [](Diagnosis& d) { d = Fetched(SealConfigEnvelope("{\"appid\":\"a\\u0000b\xFF\"}")); },
       "configuration text:", R"(appid "a\x00b\xFF")", R"("appid" : "a\u0000b)"},
      {"redirect with its Location",
       [](Diagnosis& d) {
         Failed(d, "err_0_302");
         d.request.failureBody = "http://elsewhere:8080/x\nexit status: 0";
       },
       "request:",
       "failure err_0_302 (HTTP status 302, a redirect, which is not followed); Location "
       R"("http://elsewhere:8080/x\nexit status: 0")",
       R"("location" : "http://elsewhere:8080/x\nexit status: 0")"},
      {"10060", [](Diagnosis& d) { Failed(d, "err_10060_0"); }, "request:",
       "(WSAETIMEDOUT: connection timed out)", R"("errorName" : "WSAETIMEDOUT)"},
      {"10054", [](Diagnosis& d) { Failed(d, "err_10054_0"); }, "request:", "(WSAECONNRESET: ", ""},
      {"10014", [](Diagnosis& d) { Failed(d, "err_10014_0"); }, "request:", "(WSAEFAULT: ", ""},
      {"12156", [](Diagnosis& d) { Failed(d, "err_12156_0"); }, "request:",
       "(ERROR_WINHTTP_REDIRECT_FAILED: ", ""},
      {"12157", [](Diagnosis& d) { Failed(d, "err_12157_0"); }, "request:",
       "(ERROR_WINHTTP_SECURE_CHANNEL_ERROR: ", ""},
      {"short body", [](Diagnosis& d) { Failed(d, "err_12030_200"); }, "request:",
       "(ERROR_WINHTTP_CONNECTION_ERROR: ", ""},
      {"damaged signature",
       [](Diagnosis& d) {
         d.search.candidates[0].verdict = {PublisherStep::kStatusRefused, true, 0x7A, L"", false,
                                           false};
       },
       "candidate ", "signature 0x0000007A (ERROR_INSUFFICIENT_BUFFER) refused", ""},
      {"folder named Wirelink.dll",
       [](Diagnosis& d) {
         d.candidateKinds[0] = FileKind::kFolder;
         d.search.candidates[0].verdict = {PublisherStep::kStatusRefused, true, 5, L"", false,
                                           false};
       },
       "candidate ", "present; not a regular file (a folder); signature 0x00000005 "
                     "(ERROR_ACCESS_DENIED) refused",
       R"("fileKind" : "folder")"},
      {"FIFO named Wirelink.dll",
       [](Diagnosis& d) {
         d.candidateKinds[0] = FileKind::kOther;
         d.search.candidates[0].exists = false;
       },
       "candidate ", "present, but not a regular file (a FIFO, a device or the like)",
       R"("fileKind" : "other")"},
      {"errno absent", [](Diagnosis& d) { d = Fetched(EnvelopeWithErrno("")); }, "envelope:",
       "errno absent (read as 0) ok", R"("errnoKind" : "absent")"},
      {"errno 2", [](Diagnosis& d) { d = Fetched(EnvelopeWithErrno(R"("errno":2,)")); },
       "envelope:", "errno 2 refused", R"("errnoKind" : "status")"},
      {"errno 2.0", [](Diagnosis& d) { d = Fetched(EnvelopeWithErrno(R"("errno":2.0,)")); },
       "envelope:", "errno 2 refused", ""},
      {"errno \"500\"", [](Diagnosis& d) { d = Fetched(EnvelopeWithErrno(R"("errno":"500",)")); },
       "envelope:", R"(errno "500" (not a 32-bit integer, so not an error; read as 0) ok)",
       R"("errnoSent" : "500")"},
      {"errno 1.5", [](Diagnosis& d) { d = Fetched(EnvelopeWithErrno(R"("errno":1.5,)")); },
       "envelope:", "errno 1.5 (not a 32-bit integer", ""},
      {"errno 2^31", [](Diagnosis& d) { d = Fetched(EnvelopeWithErrno(R"("errno":2147483648,)")); },
       "envelope:", "errno 2147483648 (not a 32-bit integer", ""},
      {"errno 2^32", [](Diagnosis& d) { d = Fetched(EnvelopeWithErrno(R"("errno":4294967296,)")); },
       "envelope:", "errno 4294967296 (not a 32-bit integer", ""},
      {"errno 1e30", [](Diagnosis& d) { d = Fetched(EnvelopeWithErrno(R"("errno":1e30,)")); },
       "envelope:", "errno 1e+30 (not a 32-bit integer", ""},
      {"errno true", [](Diagnosis& d) { d = Fetched(EnvelopeWithErrno(R"("errno":true,)")); },
       "envelope:", "errno true (not a 32-bit integer", R"("errnoKind" : "not_a_status")"},
      {"cut-off configuration",
       [](Diagnosis& d) { d = Fetched(SealConfigEnvelope(R"({"appid":"kv","list":[1,2)")); },
       "configuration text:",
       "appid \"kv\"; not complete JSON: kvfetch accepts it anyway", R"("complete" : false)"},
      {"rendering that fills the buffer", [&](Diagnosis& d) { d = Fetched(SealConfigEnvelope(
                                                                  longConfig)); },
       "configuration text:", "; as compact JSON it is 1123 bytes, which fills the decoder's "
                              "1024-byte buffer: the rendering kvfetch prints (at most 1023 "
                              "bytes) may be cut",
       R"("mayBeCut" : true)"},
  };
  const char* const kLinePrefixes[] = {"program: ", "library directory: ", "candidate ",
                                       "loaded: ",  "request: ",           "envelope: ",
                                       "configuration text: ", "decoding: ", "exit status: "};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Diagnosis diagnosis = Fetched();
    c.change(diagnosis);
    const std::string text = TextReport(diagnosis);
    const std::string line = Line(text, c.line);
    EXPECT_NE(line.find(c.expected), std::string::npos) << line;
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
    Json::Value report;
    std::string errors;
    const std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    EXPECT_TRUE(reader->parse(json.data(), json.data() + json.size(), &report, &errors)) << errors;
    EXPECT_NE(json.find(c.json), std::string::npos) << json;
  }
}

TEST(DoctorReportTest, ClassifiesFiles) {
  const kvtest::CTempTree tree;
  const struct {
    std::wstring path;
    FileKind kind;
  } kCases[] = {
      {tree.Write("Wirelink.dll", "MZ").wstring(), FileKind::kRegular},
      {tree.Dir("folder.dll").wstring(), FileKind::kFolder},
      {(tree.Root() / L"missing.dll").wstring(), FileKind::kMissing},
      // A device on the Unix side: Wine lists it but gives no attributes.
      {L"Z:\\dev\\null", FileKind::kOther},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(Escaped(c.path));
    EXPECT_EQ(ClassifyFile(c.path), c.kind);
  }
}

}  // namespace
