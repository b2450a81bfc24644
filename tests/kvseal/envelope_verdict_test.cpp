#include <gtest/gtest.h>

#include <string>

#include "kvseal/seal_core.h"
#include "payload/config_envelope.h"

namespace {

const std::string kConfig = R"({"appid":"kv-demo"})";  // 19 bytes: 5 bytes of filler

std::string EnvelopeWithData(const std::string& data, const std::string& errno_ = "0") {
  return R"({"errno":)" + errno_ + R"(,"data":")" + data + "\"}";
}

std::string DataFor(const std::string& config, std::string_view key = kConfigKey) {
  return Base64Encode(EncipherPayload(config, key, SealPadding::kPkcs5).value());
}

std::string Repeated(const std::string& text, int times) {
  std::string repeated;
  for (int i = 0; i < times; ++i) repeated += text;
  return repeated;
}

// Every check in the order kvfetch runs them; each body fails exactly one.
TEST(InspectConfigEnvelopeTest, NamesTheCheckThatRefused) {
  const struct {
    std::string body;
    EnvelopeCheck check;
    int errnoValue;
  } kCases[] = {
      {SealConfigEnvelope(kConfig), EnvelopeCheck::kAccepted, 0},
      {"", EnvelopeCheck::kNotJsonObject, 0},
      {"[" + SealConfigEnvelope(kConfig) + "]", EnvelopeCheck::kNotJsonObject, 0},
      {Repeated(R"({"a":)", 5000), EnvelopeCheck::kNotJsonObject, 0},
      {EnvelopeWithData(DataFor(kConfig), "2"), EnvelopeCheck::kErrnoNonZero, 2},
      {EnvelopeWithData(DataFor(kConfig), "-1"), EnvelopeCheck::kErrnoNonZero, -1},
      // Not an in-range integer, so kvfetch reads it as 0 and goes on.
      {EnvelopeWithData(DataFor(kConfig), "\"7\""), EnvelopeCheck::kAccepted, 0},
      {R"({"errno":0})", EnvelopeCheck::kDataNotString, 0},
      {R"({"errno":0,"data":12})", EnvelopeCheck::kDataNotString, 0},
      {EnvelopeWithData(""), EnvelopeCheck::kDataEmpty, 0},
      {EnvelopeWithData("QQ=A"), EnvelopeCheck::kDataUndecipherable, 0},
      {EnvelopeWithData("Zm9v\\n"), EnvelopeCheck::kDataUndecipherable, 0},
      {EnvelopeWithData(DataFor(kConfig, "another key")), EnvelopeCheck::kPlainNotJsonObject, 0},
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

TEST(InspectConfigEnvelopeTest, DeciphersUnderTheGivenKey) {
  const std::string body = SealConfigEnvelope(kConfig, "operator key");
  const EnvelopeVerdict verdict = InspectConfigEnvelope(body.c_str(), "operator key");
  EXPECT_EQ(verdict.check, EnvelopeCheck::kAccepted);
  EXPECT_EQ(verdict.text, kConfig + std::string(5, '\x05'));
  EXPECT_EQ(InspectConfigEnvelope(body.c_str()).check, EnvelopeCheck::kPlainNotJsonObject);
}

}  // namespace
