#include "payload/config_envelope.h"
#include "support/envelope_checks.h"

#include <gtest/gtest.h>

#include <string>

#include "kvseal/seal_core.h"

namespace {

const std::string kConfig = R"({"appid":"kv-demo","level":3})";
// What kConfig deciphers to: PKCS#5 filler included, as the service sends it.
const std::string kDeciphered = kConfig + std::string(3, '\x03');

std::string DataFor(const std::string& config, std::string_view key = kConfigKey) {
  return Base64Encode(EncipherPayload(config, key, SealPadding::kPkcs5).value());
}

std::string EnvelopeWithData(const std::string& data, const std::string& errno_ = "0") {
  return R"({"errno":)" + errno_ + R"(,"data":")" + data + "\"}";
}

std::string Repeated(const std::string& text, int times) {
  std::string repeated;
  for (int i = 0; i < times; ++i) repeated += text;
  return repeated;
}

std::string EnvelopeWith(const std::string& members) {
  return "{" + members + R"(,"data":")" + DataFor(kConfig) + "\"}";
}

TEST(ConfigEnvelopeTest, ErrnoRefusesOnlyNonZeroIntegers) {
  const struct {
    const char* members;
    bool accepted;
  } kCases[] = {
      {R"("other":1)", true},           {R"("errno":0)", true},          {R"("errno":0.0)", true},
      {R"("errno":"7")", true},         {R"("errno":true)", true},       {R"("errno":null)", true},
      {R"("errno":1.5)", true},         {R"("errno":4294967296)", true}, {R"("errno":{})", true},
      {R"("errno":-1)", false},         {R"("errno":2)", false},         {R"("errno":2.0)", false},
      {R"("errno":2147483647)", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.members);
    EXPECT_EQ(ParseConfigEnvelope(EnvelopeWith(c.members).c_str()), c.accepted ? kDeciphered : "");
  }
}

TEST(ConfigEnvelopeTest, RefusesBadEnvelopes) {
  const std::string valid = SealConfigEnvelope(kConfig);
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += R"({"data":)";
  const std::string kCases[] = {
      "",
      "null",
      "not json",
      "[" + valid + "]",
      R"({"errno":0})",
      R"({"errno":0,"data":""})",
      R"({"errno":0,"data":5})",
      R"({"errno":0,"data":{}})",
      R"({"errno":0,"data":["x"]})",
      R"({"errno":0,"data":"QUJ D"})",
      R"({"errno":0,"data":"QUJD=="})",
      std::string(100000, '['),
      std::string(100000, '{'),
      deep,
  };
  for (const std::string& body : kCases) {
    SCOPED_TRACE(body.substr(0, 40));
    EXPECT_EQ(ParseConfigEnvelope(body.c_str()), "");
  }
  EXPECT_EQ(ParseConfigEnvelope(nullptr), "");
}

TEST(ConfigEnvelopeTest, TakesTheBodyUpToItsFirstNul) {
  const std::string valid = SealConfigEnvelope(kConfig);
  EXPECT_EQ(ParseConfigEnvelope((valid + std::string(1, '\0') + "garbage").c_str()), kDeciphered);
  const std::string cut = std::string(R"({"errno":0,)") + '\0' + valid.substr(11);
  EXPECT_EQ(ParseConfigEnvelope(cut.c_str()), "");
}

// The parse outcome is not what decides: trailing text and a body cut off
// after "data" still deliver the configuration.
TEST(ConfigEnvelopeTest, ToleratesTrailingAndTruncatedBodies) {
  const std::string valid = SealConfigEnvelope(kConfig);
  const std::string kCases[] = {
      valid + " trailing text",
      valid + "}",
      valid.substr(0, valid.size() - 1),
      valid.substr(0, valid.size() - 1) + ",\"more\":",
  };
  for (const std::string& body : kCases) {
    SCOPED_TRACE(body);
    EXPECT_EQ(ParseConfigEnvelope(body.c_str()), kDeciphered);
  }
}

TEST(ConfigEnvelopeTest, ChecksTheDecipheredConfiguration) {
  std::string deep;
  for (int i = 0; i < 5000; ++i) deep += R"({"appid":)";
  const struct {
    std::string config;
    bool accepted;
  } kCases[] = {
      {R"({"appid":""})", true},
      {R"({"appid":"x","extra":[1,2]})", true},
      {R"({"appid":"x"} trailing)", true},
      {R"({"appid":5})", false},
      {R"({"appid":null})", false},
      {R"({"appId":"x"})", false},
      {R"([{"appid":"x"}])", false},
      {R"("appid")", false},
      {"not json", false},
      {std::string(5000, '['), false},
      {deep, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.config.substr(0, 40));
    const std::string result = ParseConfigEnvelope(SealConfigEnvelope(c.config).c_str());
    if (!c.accepted) {
      EXPECT_EQ(result, "");
      continue;
    }
    const std::size_t filler = 8 - c.config.size() % 8;
    EXPECT_EQ(result, c.config + std::string(filler, static_cast<char>(filler)));
  }
}

TEST(ConfigEnvelopeTest, KeepsZeroFillerBytes) {
  const std::string config = R"({"appid":"zero"})";  // 16 bytes: no filler
  const std::string config13 = R"({"appid":"z"})";
  EXPECT_EQ(ParseConfigEnvelope(SealConfigEnvelope(config, kConfigKey, SealPadding::kZero).c_str()),
            config);
  const std::string result =
      ParseConfigEnvelope(SealConfigEnvelope(config13, kConfigKey, SealPadding::kZero).c_str());
  EXPECT_EQ(result, config13 + std::string(3, '\0'));
}

TEST(ConfigEnvelopeTest, RefusesOtherKeys) {
  EXPECT_EQ(ParseConfigEnvelope(SealConfigEnvelope(kConfig, "another key").c_str()), "");
}

// 19 bytes: 5 bytes of filler.
const std::string kShortConfig = R"({"appid":"kv-demo"})";

// Every check in the order kvfetch runs them; each body fails exactly one.
TEST(ConfigEnvelopeTest, InspectionNamesTheCheckThatRefused) {
  const struct {
    std::string body;
    EnvelopeCheck check;
    int errnoValue;
  } kCases[] = {
      {SealConfigEnvelope(kShortConfig), EnvelopeCheck::kAccepted, 0},
      {"", EnvelopeCheck::kNotJsonObject, 0},
      {"[" + SealConfigEnvelope(kShortConfig) + "]", EnvelopeCheck::kNotJsonObject, 0},
      {Repeated(R"({"a":)", 5000), EnvelopeCheck::kNotJsonObject, 0},
      {EnvelopeWithData(DataFor(kShortConfig), "2"), EnvelopeCheck::kErrnoNonZero, 2},
      {EnvelopeWithData(DataFor(kShortConfig), "-1"), EnvelopeCheck::kErrnoNonZero, -1},
      // Not an in-range integer, so kvfetch reads it as 0 and goes on.
      {EnvelopeWithData(DataFor(kShortConfig), "\"7\""), EnvelopeCheck::kAccepted, 0},
      {R"({"errno":0})", EnvelopeCheck::kDataNotString, 0},
      {R"({"errno":0,"data":12})", EnvelopeCheck::kDataNotString, 0},
      {EnvelopeWithData(""), EnvelopeCheck::kDataEmpty, 0},
      {EnvelopeWithData("QQ=A"), EnvelopeCheck::kDataUndecipherable, 0},
      {EnvelopeWithData("Zm9v\\n"), EnvelopeCheck::kDataUndecipherable, 0},
      {EnvelopeWithData(DataFor(kShortConfig, "another key")), EnvelopeCheck::kPlainNotJsonObject,
       0},
      {EnvelopeWithData(DataFor("[1]")), EnvelopeCheck::kPlainNotJsonObject, 0},
      {EnvelopeWithData(DataFor(R"({"appid":7})")), EnvelopeCheck::kAppidNotString, 0},
      {EnvelopeWithData(DataFor("{}")), EnvelopeCheck::kAppidNotString, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.body.substr(0, 60));
    const EnvelopeVerdict verdict = InspectConfigEnvelope(c.body.c_str());
    EXPECT_EQ(verdict.check, c.check) << DescribeEnvelopeCheck(verdict.check);
    EXPECT_EQ(verdict.errnoValue, c.errnoValue);
    // The verdict carries a text exactly when kvfetch would pass one on.
    EXPECT_EQ(verdict.text, ParseConfigEnvelope(c.body.c_str()));
    EXPECT_EQ(verdict.text.empty(), c.check != EnvelopeCheck::kAccepted);
  }
  EXPECT_EQ(InspectConfigEnvelope(nullptr).check, EnvelopeCheck::kNotJsonObject);
}

TEST(ConfigEnvelopeTest, InspectionDeciphersUnderTheGivenKey) {
  const std::string body = SealConfigEnvelope(kShortConfig, "operator key");
  const EnvelopeVerdict verdict = InspectConfigEnvelope(body.c_str(), "operator key");
  EXPECT_EQ(verdict.check, EnvelopeCheck::kAccepted);
  EXPECT_EQ(verdict.text, kShortConfig + std::string(5, '\x05'));
  EXPECT_EQ(InspectConfigEnvelope(body.c_str()).check, EnvelopeCheck::kPlainNotJsonObject);
}

}  // namespace
