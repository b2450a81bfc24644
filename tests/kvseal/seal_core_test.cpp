#include "kvseal/seal_core.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "payload/base64.h"
#include "support/base64_decode.h"
#include "payload/config_envelope.h"

namespace {

std::string DecodeOrFail(const std::string& text) {
  std::vector<unsigned char> out(Base64DecodeBufferSize(text.size()));
  std::int32_t length = 0;
  EXPECT_TRUE(Base64Decode(out.data(), length, text)) << text;
  return std::string(out.begin(), out.begin() + length);
}

TEST(SealCoreTest, Base64EncodeKnownVectors) {
  // RFC 4648, section 10, plus high bytes and both extra characters.
  const struct {
    std::string bytes;
    const char* text;
  } kCases[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {"\xFF", "/w=="},
      {"\xFB\xFF\xBF", "+/+/"},
      {std::string(2, '\0'), "AAA="},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Base64Encode(c.bytes), c.text);
  }
}

TEST(SealCoreTest, Base64RoundTripsThroughTheDecoder) {
  std::mt19937 random(20240601);
  for (std::size_t length = 0; length <= 300; ++length) {
    std::string bytes(length, '\0');
    for (char& b : bytes) b = static_cast<char>(random() & 0xFF);
    SCOPED_TRACE(length);
    EXPECT_EQ(DecodeOrFail(Base64Encode(bytes)), bytes);
  }
}

TEST(SealCoreTest, PaddingSizes) {
  const struct {
    std::size_t plainLength;
    SealPadding padding;
    std::size_t cipherLength;  // 0: refused
  } kCases[] = {
      {0, SealPadding::kPkcs5, 8},  {7, SealPadding::kPkcs5, 8}, {8, SealPadding::kPkcs5, 16},
      {0, SealPadding::kZero, 0},   {9, SealPadding::kZero, 16}, {16, SealPadding::kZero, 16},
      {16, SealPadding::kNone, 16}, {0, SealPadding::kNone, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message()
                 << c.plainLength << " bytes, padding " << static_cast<int>(c.padding));
    const auto cipherText = EncipherPayload(std::string(c.plainLength, 'x'), kConfigKey, c.padding);
    ASSERT_TRUE(cipherText.has_value());
    EXPECT_EQ(cipherText->size(), c.cipherLength);
    // kvseal's size check before sealing uses the same rule.
    EXPECT_EQ(PaddedLength(c.plainLength, c.padding), c.cipherLength);
  }
  EXPECT_FALSE(EncipherPayload("12345", kConfigKey, SealPadding::kNone).has_value());
  EXPECT_FALSE(EncipherPayload("12345678", "", SealPadding::kPkcs5).has_value());
  EXPECT_EQ(SealConfigEnvelope("12345", kConfigKey, SealPadding::kNone), "");
}

// Reference ciphertext from OpenSSL 3's BF_ecb_encrypt under the payload key,
// computed when this test was written.
TEST(SealCoreTest, EnciphersLikeTheReference) {
  const auto cipherText =
      EncipherPayload(R"({"appid":"kv-demo","v":1})", kConfigKey, SealPadding::kPkcs5);
  ASSERT_TRUE(cipherText.has_value());
  EXPECT_EQ(Base64Encode(*cipherText), "XhRpzyFxlbk9mTujTDVpHU72HmaQL/wEj1xneZr70x8=");
}

std::string JsonQuoted(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

// Configurations of every length from a few bytes to several hundred, with
// escapes and UTF-8, through all three paddings: the sealed envelope must
// come back as the configuration followed by exactly its filler.
TEST(SealCoreTest, EnvelopesRoundTripThroughParseConfigEnvelope) {
  std::mt19937 random(7);
  const std::string kPieces[] = {"a", "Z", "0", " ", "\\\"", "\xC3\xA9", "\xE2\x82\xAC", "-", "/"};
  int checked = 0;
  for (int n = 0; n < 400; ++n) {
    std::string appid;
    for (int i = 0; i < n % 97; ++i) appid += kPieces[random() % std::size(kPieces)];
    std::string config = R"({"appid":)" + JsonQuoted(appid) + R"(,"seq":)" + std::to_string(n);
    if (n % 3 == 0) config += R"(,"list":[1,2,{"k":null}])";
    config += "}";

    for (const SealPadding padding :
         {SealPadding::kPkcs5, SealPadding::kZero, SealPadding::kNone}) {
      const std::size_t partial = config.size() % 8;
      if (padding == SealPadding::kNone && partial != 0) continue;
      std::string expected = config;
      if (padding == SealPadding::kPkcs5)
        expected.append(8 - partial, static_cast<char>(8 - partial));
      if (padding == SealPadding::kZero && partial != 0) expected.append(8 - partial, '\0');
      SCOPED_TRACE(testing::Message() << config << " padding " << static_cast<int>(padding));
      EXPECT_EQ(ParseConfigEnvelope(SealConfigEnvelope(config, kConfigKey, padding).c_str()),
                expected);
      ++checked;
    }
  }
  EXPECT_GT(checked, 800);
}

}  // namespace
