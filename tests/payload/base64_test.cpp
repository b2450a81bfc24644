#include "payload/base64.h"
#include "support/base64_decode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "kvseal/seal_core.h"

namespace {

struct DecodeResult {
  bool ok = false;
  std::string bytes;
};

DecodeResult Decode(const std::string& text) {
  std::vector<unsigned char> out(Base64DecodeBufferSize(text.size()));
  std::int32_t length = -1;
  DecodeResult result;
  result.ok = Base64Decode(out.data(), length, text);
  if (result.ok) result.bytes.assign(out.begin(), out.begin() + length);
  return result;
}

const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

TEST(Base64DecodeTest, DecodesValidText) {
  const struct {
    const char* text;
    std::string bytes;
  } kCases[] = {
      {"", ""},
      {"QQ==", "A"},
      {"QUI=", "AB"},
      {"QUJD", "ABC"},
      {"QUJDRA==", "ABCD"},
      {"SGVsbG8sIHdvcmxkIQ==", "Hello, world!"},
      // High bytes and the last two alphabet characters.
      {"/w==", "\xFF"},
      {"gICA", "\x80\x80\x80"},
      {"+/+/", "\xFB\xFF\xBF"},
      {"AAAA", std::string(3, '\0')},
      // Unused low bits of the last character are ignored.
      {"QR==", "A"},
      {"QUJ=", "AB"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    const DecodeResult result = Decode(c.text);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.bytes, c.bytes);
  }
}

TEST(Base64DecodeTest, RefusesInvalidText) {
  const std::string kCases[] = {
      // Lengths that cannot be padded Base64.
      "Q",
      "QQ",
      "QQQ",
      "QUJDR",
      "QUJDRA=",
      // "=" anywhere but the last two places.
      "QQ=A",
      "Q===",
      "====",
      "=QUJ",
      "QQ==QUJD",
      // White space and line breaks.
      "QU D",
      " QUJD",
      "QUJD\n",
      "QUJD\r\nQUJD",
      "QUJ\t",
      // The URL-safe alphabet and bytes outside ASCII.
      "QQ-_",
      "-w==",
      "_w==",
      "QUJ\xC3",
      "\x80QUJ",
      std::string("QU\0D", 4),
  };
  for (const std::string& text : kCases) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(Decode(text).ok);
  }
}

TEST(Base64DecodeTest, FailureLeavesOutputUntouched) {
  unsigned char out[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  std::int32_t length = 42;
  EXPECT_FALSE(Base64Decode(out, length, "QUJDR==="));
  EXPECT_EQ(length, 42);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(out[i], i + 1);
}

// Every other byte outside the alphabet must fail the group in every position,
// including the partial groups of padded text.
TEST(Base64DecodeTest, EveryNonAlphabetByteFailsInEveryPosition) {
  for (int byte = 0; byte < 256; ++byte) {
    const char c = static_cast<char>(byte);
    // "=" may become padding here; its misplacement is covered above.
    if (c == '=' || kAlphabet.find(c) != std::string::npos) continue;
    for (const std::string& base :
         {std::string("QUJD"), std::string("QUI="), std::string("QQ==")}) {
      const std::size_t positions = base.find('=') == std::string::npos ? 4 : base.find('=');
      for (std::size_t position = 0; position < positions; ++position) {
        std::string text = base;
        text[position] = c;
        SCOPED_TRACE(testing::Message() << "byte " << byte << " in " << text);
        std::vector<unsigned char> out(Base64DecodeBufferSize(text.size()));
        EXPECT_EQ(Base64DecodeRaw(out.data(), text.data(), static_cast<std::int32_t>(text.size())),
                  -1);
      }
    }
  }
}

TEST(Base64DecodeTest, EveryAlphabetCharacterDecodesInEveryPosition) {
  for (std::size_t value = 0; value < kAlphabet.size(); ++value) {
    const char c = kAlphabet[value];
    for (int position = 0; position < 4; ++position) {
      std::string text = "AAAA";
      text[position] = c;
      SCOPED_TRACE(text);
      const DecodeResult result = Decode(text);
      ASSERT_TRUE(result.ok);
      ASSERT_EQ(result.bytes.size(), 3u);
      const std::uint32_t bits =
          (static_cast<std::uint32_t>(static_cast<unsigned char>(result.bytes[0])) << 16) |
          (static_cast<std::uint32_t>(static_cast<unsigned char>(result.bytes[1])) << 8) |
          static_cast<unsigned char>(result.bytes[2]);
      EXPECT_EQ(bits, value << (6 * (3 - position)));
    }
  }
}

// Long texts take other routes than one group: groups in steps of four, read
// either as one word or byte by byte, then single groups, then the last one.
// Every byte value in every position of such a text must decode as the
// alphabet says, or fail.
TEST(Base64DecodeTest, EveryByteInEveryPositionOfALongText) {
  // Seven groups: four in a step, two single ones, the last one.
  const std::string base = "QUJDREVGR0hJSktMTU5PUFFSU1RV";
  const std::string expected = "ABCDEFGHIJKLMNOPQRSTU";
  for (std::size_t position = 0; position < base.size(); ++position) {
    for (int byte = 0; byte < 256; ++byte) {
      // At the end "=" is padding; its placement is covered above.
      if (byte == '=' && position + 2 >= base.size()) continue;
      std::string text = base;
      text[position] = static_cast<char>(byte);
      SCOPED_TRACE(testing::Message() << "byte " << byte << " at " << position);
      const std::size_t value = kAlphabet.find(static_cast<char>(byte));
      const DecodeResult result = Decode(text);
      if (value == std::string::npos) {
        EXPECT_FALSE(result.ok);
        continue;
      }
      ASSERT_TRUE(result.ok);
      // Patch the six bits the character carries into the expected bytes.
      const std::size_t group = position / 4;
      const int shift = 6 * (3 - static_cast<int>(position % 4));
      std::uint32_t bits = 0;
      for (int i = 0; i < 3; ++i) {
        bits = (bits << 8) | static_cast<unsigned char>(expected[3 * group + i]);
      }
      bits = (bits & ~(0x3Fu << shift)) | (static_cast<std::uint32_t>(value) << shift);
      std::string want = expected;
      for (int i = 0; i < 3; ++i) {
        want[3 * group + i] = static_cast<char>(bits >> (8 * (2 - i)));
      }
      EXPECT_EQ(result.bytes, want);
    }
  }
}

TEST(Base64DecodeTest, RawRefusesLengthsThatAreNotGroups) {
  unsigned char out[8] = {};
  EXPECT_EQ(Base64DecodeRaw(out, "QUJD", 0), 0);
  EXPECT_EQ(Base64DecodeRaw(out, "QUJD", -4), -1);
  EXPECT_EQ(Base64DecodeRaw(out, "QUJDQUJD", 6), -1);
  EXPECT_EQ(Base64DecodeRaw(out, "QUJDQUJD", 8), 6);
}

// The main loop takes groups in pairs; text of every length up to a few
// pairs must decode like the reference encoder's input, never write more
// than one byte past the decoded length, and fail for a bad character in any
// group.
TEST(Base64DecodeTest, EveryGroupCountRoundTrips) {
  std::mt19937 engine(4242u);
  constexpr unsigned char kGuard = 0xC3;
  for (std::size_t size = 0; size <= 40; ++size) {
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(engine());
    const std::string text = Base64Encode(bytes);
    SCOPED_TRACE(text);

    // Guard bytes right after the buffer the contract asks for.
    const std::size_t bufferSize = Base64DecodeBufferSize(text.size());
    std::vector<unsigned char> out(bufferSize + 8, kGuard);
    const auto length = static_cast<std::int32_t>(text.size());
    ASSERT_EQ(Base64DecodeRaw(out.data(), text.data(), length), static_cast<std::int32_t>(size));
    EXPECT_EQ(std::string(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(size)), bytes);
    for (std::size_t i = std::min(bufferSize, size + 1); i < out.size(); ++i) {
      EXPECT_EQ(out[i], kGuard) << "written at " << i;
    }

    const std::size_t characters =
        text.find('=') == std::string::npos ? text.size() : text.find('=');
    for (std::size_t position = 0; position < characters; ++position) {
      std::string bad = text;
      bad[position] = '*';
      EXPECT_EQ(Base64DecodeRaw(out.data(), bad.data(), length), -1) << "at " << position;
    }
  }
}

}  // namespace
