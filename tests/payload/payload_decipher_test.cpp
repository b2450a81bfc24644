#include "payload/payload_decipher.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "kvseal/seal_core.h"
#include "payload/blowfish.h"

namespace {

const std::string kZeroKey(8, '\0');
// Encryption of eight zero bytes under the all-zero key (published vector).
const std::string kZeroBlockCipher = "\x4E\xF9\x97\x45\x61\x98\xDD\x78";

TEST(PayloadDecipherTest, RefusesEmptyOrInvalidDataAndLeavesOutput) {
  const char* const kCases[] = {"", "QQ", "QQ=A", "TvmXRWGY3Xg", "TvmXRWGY 3Xg="};
  for (const char* data : kCases) {
    SCOPED_TRACE(data);
    std::string out = "unchanged";
    EXPECT_FALSE(DecipherPayload(data, kZeroKey, out));
    EXPECT_EQ(out, "unchanged");
  }
}

TEST(PayloadDecipherTest, RefusesEmptyKey) {
  std::string out = "unchanged";
  EXPECT_FALSE(DecipherPayload(Base64Encode(kZeroBlockCipher), "", out));
  EXPECT_EQ(out, "unchanged");
}

TEST(PayloadDecipherTest, DecipherOneBlock) {
  std::string out;
  ASSERT_TRUE(DecipherPayload(Base64Encode(kZeroBlockCipher), kZeroKey, out));
  EXPECT_EQ(out, std::string(8, '\0'));
}

// A ciphertext that stops inside a block: the last block is deciphered with
// zeros for the missing bytes and only the decoded length is kept.
TEST(PayloadDecipherTest, PartialLastBlockKeepsDecodedLength) {
  const std::string cipherText = kZeroBlockCipher + "ABCD";
  std::string out;
  ASSERT_TRUE(DecipherPayload(Base64Encode(cipherText), kZeroKey, out));
  ASSERT_EQ(out.size(), 12u);
  EXPECT_EQ(out.substr(0, 8), std::string(8, '\0'));

  BlowfishCipher cipher;
  cipher.AllocateTables();
  ASSERT_TRUE(cipher.SetKey(reinterpret_cast<const unsigned char*>(kZeroKey.data()), 8));
  std::uint32_t left = 0x41424344;  // "ABCD" followed by four zero bytes
  std::uint32_t right = 0;
  cipher.DecryptBlock(left, right);
  unsigned char expected[4];
  StoreBigEndian32(expected, left);
  EXPECT_EQ(out.substr(8), std::string(reinterpret_cast<const char*>(expected), 4));
}

TEST(PayloadDecipherTest, KeepsSenderPadding) {
  const std::string config = R"({"appid":"kv-demo","v":1})";
  const struct {
    SealPadding padding;
    std::string filler;
  } kCases[] = {
      {SealPadding::kPkcs5, std::string(7, '\x07')},
      {SealPadding::kZero, std::string(7, '\0')},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(static_cast<int>(c.padding));
    const auto cipherText = EncipherPayload(config, kConfigKey, c.padding);
    ASSERT_TRUE(cipherText.has_value());
    std::string out;
    ASSERT_TRUE(DecipherPayload(Base64Encode(*cipherText), kConfigKey, out));
    EXPECT_EQ(out, config + c.filler);
  }
}

}  // namespace
