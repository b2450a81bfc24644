#include "payload/blowfish.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> FromHex(const std::string& hex) {
  std::vector<unsigned char> bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::string ToHex(const unsigned char* bytes, std::size_t size) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (std::size_t i = 0; i < size; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 0x0F];
  }
  return hex;
}

BlowfishCipher MakeCipher(const std::vector<unsigned char>& key) {
  BlowfishCipher cipher;
  cipher.AllocateTables();
  EXPECT_TRUE(cipher.SetKey(key.data(), static_cast<std::int32_t>(key.size())));
  return cipher;
}

std::string EncryptHex(const BlowfishCipher& cipher, const std::string& plainHex) {
  std::vector<unsigned char> block = FromHex(plainHex);
  std::uint32_t left = LoadBigEndian32(block.data());
  std::uint32_t right = LoadBigEndian32(block.data() + 4);
  cipher.EncryptBlock(left, right);
  StoreBigEndian32(block.data(), left);
  StoreBigEndian32(block.data() + 4, right);
  return ToHex(block.data(), block.size());
}

std::string DecryptHex(const BlowfishCipher& cipher, const std::string& cipherHex) {
  std::vector<unsigned char> block = FromHex(cipherHex);
  EXPECT_EQ(cipher.Decrypt(block.data(), block.data(), 8), 8);
  return ToHex(block.data(), block.size());
}

TEST(BlowfishTest, InitialTablesStartWithPi) {
  EXPECT_EQ(blowfish_tables::kInitialP[0], 0x243F6A88u);
  EXPECT_EQ(blowfish_tables::kInitialP[1], 0x85A308D3u);
  EXPECT_EQ(blowfish_tables::kInitialP[17], 0x8979FB1Bu);
  EXPECT_EQ(blowfish_tables::kInitialS[0], 0xD1310BA6u);
  EXPECT_EQ(blowfish_tables::kInitialS[1], 0x98DFB5ACu);
  EXPECT_EQ(blowfish_tables::kInitialS[1023], 0x3AC372E6u);
}

// Eric Young's ECB set (8-byte keys). Ciphertexts reproduced with OpenSSL 3's
// BF_ecb_encrypt when this test was written.
TEST(BlowfishTest, PublishedEcbVectors) {
  const struct {
    const char* key;
    const char* plain;
    const char* cipher;
  } kVectors[] = {
      {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
      {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
      {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
      {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
      {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
      {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
      {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
      {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
      {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
      {"0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0"},
      {"07A1133E4A0B2686", "0248D43806F67172", "1730E5778BEA1DA4"},
      {"3849674C2602319E", "51454B582DDF440A", "A25E7856CF2651EB"},
      {"04B915BA43FEB5B6", "42FD443059577FA2", "353882B109CE8F1A"},
      {"0113B970FD34F2CE", "059B5E0851CF143A", "48F4D0884C379918"},
      {"0170F175468FB5E6", "0756D8E0774761D2", "432193B78951FC98"},
      {"43297FAD38E373FE", "762514B829BF486A", "13F04154D69D1AE5"},
      {"07A7137045DA2A16", "3BDD119049372802", "2EEDDA93FFD39C79"},
      {"04689104C2FD3B2F", "26955F6835AF609A", "D887E0393C2DA6E3"},
      {"37D06BB516CB7546", "164D5E404F275232", "5F99D04F5B163969"},
      {"1F08260D1AC2465E", "6B056E18759F5CCA", "4A057A3B24D3977B"},
      {"584023641ABA6176", "004BD6EF09176062", "452031C1E4FADA8E"},
      {"025816164629B007", "480D39006EE762F2", "7555AE39F59B87BD"},
      {"49793EBC79B3258F", "437540C8698F3CFA", "53C55F9CB49FC019"},
      {"4FB05E1515AB73A7", "072D43A077075292", "7A8E7BFA937E89A3"},
      {"49E95D6D4CA229BF", "02FE55778117F12A", "CF9C5D7A4986ADB5"},
      {"018310DC409B26D6", "1D9D5C5018F728C2", "D1ABB290658BC778"},
      {"1C587F1C13924FEF", "305532286D6F295A", "55CB3774D13EF201"},
      {"0101010101010101", "0123456789ABCDEF", "FA34EC4847B268B2"},
      {"1F1F1F1F0E0E0E0E", "0123456789ABCDEF", "A790795108EA3CAE"},
      {"E0FEE0FEF1FEF1FE", "0123456789ABCDEF", "C39E072D9FAC631D"},
      {"0000000000000000", "FFFFFFFFFFFFFFFF", "014933E0CDAFF6E4"},
      {"FFFFFFFFFFFFFFFF", "0000000000000000", "F21E9A77B71C49BC"},
      {"0123456789ABCDEF", "0000000000000000", "245946885754369A"},
      {"FEDCBA9876543210", "FFFFFFFFFFFFFFFF", "6B5C5A9C5D9E0A5A"},
  };
  for (const auto& v : kVectors) {
    SCOPED_TRACE(testing::Message() << "key " << v.key << " plain " << v.plain);
    const BlowfishCipher cipher = MakeCipher(FromHex(v.key));
    EXPECT_EQ(EncryptHex(cipher, v.plain), v.cipher);
    EXPECT_EQ(DecryptHex(cipher, v.cipher), v.plain);
  }
}

// Prefixes of one 56-byte key encrypting FEDCBA9876543210: every length
// cycles the key differently over the P-array. The first 24 bytes are the
// published key-length test key; the ciphertexts come from OpenSSL 3's
// BF_set_key at test-writing time.
TEST(BlowfishTest, KeyLengthsOneToFiftySix) {
  const std::vector<unsigned char> key = FromHex(
      "F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677"
      "83A8CDF2173C6186ABD0F51A3F6489AED3F81D42678CB1D6FB20456A8FB4D9FE");
  const char* const kCiphers[] = {
      "F9AD597C49DB005E", "E91D21C1D961A6D6", "E9C2B70A1BC65CF3", "BE1E639408640F05",
      "B39E44481BDB1E6E", "9457AA83B1928C0D", "8BB77032F960629D", "E87A244E2CC85E82",
      "15750E7A4F4EC577", "122BA70B3AB64AE0", "3A833C9AFFC537F6", "9409DA87A90F6BF2",
      "884F80625060B8B4", "1F85031C19E11968", "79D9373A714CA34F", "93142887EE3BE15C",
      "03429E838CE2D14B", "A4299E27469FF67B", "AFD5AED1C1BC96A8", "10851C0E3858DA9F",
      "E6F51ED79B9DB21F", "64A6E14AFD36B46F", "80C7D7D45A5479AD", "05044B62FA52D080",
      "B765CD8298438EA4", "4EC369A3B2AF00C9", "778D3D5094F4EE5E", "A0E6315938E0F6F1",
      "6C645142B9980130", "EAFD7D2C1E82533D", "5C0626BAC6BDA13F", "FE6AB5149C93B4AC",
      "2FA6D8FE282A60F0", "A1E88101C984FB38", "4DDCEB0AA2E21AF9", "28CB8E415FB65FDA",
      "13619FC7BF328F49", "3F941297D6C4D279", "ACD0262E0A3F1279", "A163CA200C06B593",
      "3861EFC43253C808", "B5D11C7C9F9EA4C9", "28EAFBB4AFDE0515", "42024C5B7FDD00CE",
      "A862B7418CD70B02", "086F9CC9FDBC554B", "CA1289B66B5AC741", "B04BEBBE1AF331F2",
      "D0EB4C2BF6264B29", "2C5D777AE8CB3EAC", "78CEC5CE645AC571", "BC726E960F7A7D67",
      "CB7D3CCE349F6FDF", "B35DDCDC6F7109BD", "B3726607EB4A3F02", "8D1185A6C9D5D228",
  };
  for (std::size_t length = 1; length <= key.size(); ++length) {
    SCOPED_TRACE(testing::Message() << "key length " << length);
    const BlowfishCipher cipher =
        MakeCipher(std::vector<unsigned char>(key.begin(), key.begin() + length));
    EXPECT_EQ(EncryptHex(cipher, "FEDCBA9876543210"), kCiphers[length - 1]);
  }
}

// The payload key is 36 bytes, so its cycle does not line up with the 4-byte
// words; references computed with OpenSSL 3 at test-writing time.
const std::string kPayloadKey = "5D3F0C19-8B2E-4A67-9C14-E07B52A9D3F6";

BlowfishCipher MakePayloadCipher() {
  return MakeCipher(std::vector<unsigned char>(kPayloadKey.begin(), kPayloadKey.end()));
}

TEST(BlowfishTest, PayloadKeySchedule) {
  const BlowfishCipher cipher = MakePayloadCipher();
  EXPECT_EQ(EncryptHex(cipher, "0000000000000000"), "6F4F66BB69259FF2");
  EXPECT_EQ(EncryptHex(cipher, "FFFFFFFFFFFFFFFF"), "75E590AEC1E22A93");
  EXPECT_EQ(EncryptHex(cipher, "0123456789ABCDEF"), "DE781F7310C7CF5D");
}

TEST(BlowfishTest, DecryptsEveryBlockOnItsOwn) {
  const std::vector<unsigned char> cipherText =
      FromHex("5E1469CF217195B93D993BA34C35691D4EF61E66902FFC048F5C67799AFBD31F");
  const std::string plain = std::string(R"({"appid":"kv-demo","v":1})") + std::string(7, '\x07');
  const BlowfishCipher cipher = MakePayloadCipher();

  std::vector<unsigned char> out(cipherText.size(), 0xAA);
  ASSERT_EQ(cipher.Decrypt(cipherText.data(), out.data(), 32), 32);
  EXPECT_EQ(std::string(out.begin(), out.end()), plain);

  std::vector<unsigned char> inPlace = cipherText;
  ASSERT_EQ(cipher.Decrypt(inPlace.data(), inPlace.data(), 32), 32);
  EXPECT_EQ(inPlace, out);
}

TEST(BlowfishTest, OutputLengthRoundsUpToBlocks) {
  const struct {
    std::uint32_t len;
    std::int32_t expected;
  } kCases[] = {
      {0, 0},
      {1, 8},
      {7, 8},
      {8, 8},
      {9, 16},
      {12, 16},
      {16, 16},
      // The largest lengths whose rounded size still fits the signed result.
      {0x7FFFFFF8u, 0x7FFFFFF8},
      {0x7FFFFFF9u, 0},
      {0xFFFFFFFFu, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.len);
    EXPECT_EQ(BlowfishCipher::GetOutputLength(c.len), c.expected);
  }
}

TEST(BlowfishTest, RefusesUnusableKeys) {
  const unsigned char key[] = {1, 2, 3};
  BlowfishCipher unallocated;
  EXPECT_FALSE(unallocated.SetKey(key, 3));

  BlowfishCipher cipher;
  cipher.AllocateTables();
  EXPECT_FALSE(cipher.SetKey(key, 0));
  EXPECT_FALSE(cipher.SetKey(nullptr, 3));
  EXPECT_TRUE(cipher.SetKey(key, 3));
  unsigned char block[8] = {};
  EXPECT_EQ(cipher.Decrypt(block, block, 0), 0);
}

// Decrypt works on several blocks at once; every block must still come out
// as DecryptBlock alone makes it, whatever the length (partial last block
// included), the alignment, and whether it runs in place.
TEST(BlowfishTest, InterleavedDecryptMatchesSingleBlocks) {
  std::mt19937 engine(12345u);
  std::vector<unsigned char> key(11);
  for (unsigned char& b : key) b = static_cast<unsigned char>(engine());
  const BlowfishCipher cipher = MakeCipher(key);

  for (std::uint32_t len = 0; len <= 64; ++len) {
    for (std::size_t offset = 0; offset < 4; ++offset) {
      for (const bool inPlace : {false, true}) {
        SCOPED_TRACE(testing::Message()
                     << "len " << len << " offset " << offset << (inPlace ? " in place" : ""));
        const std::size_t padded = (len + 7) / 8 * 8;
        std::vector<unsigned char> input(offset + padded + 8);
        for (unsigned char& b : input) b = static_cast<unsigned char>(engine());
        std::vector<unsigned char> output =
            inPlace ? input : std::vector<unsigned char>(input.size(), 0x5A);
        unsigned char* out = output.data() + offset;

        // What the output must hold: the input's first `len` bytes, the
        // output's own bytes after them, each whole block deciphered alone.
        std::vector<unsigned char> expected(output.begin() + offset,
                                            output.begin() + offset + padded);
        std::copy_n(input.begin() + offset, len, expected.begin());
        for (std::size_t b = 0; b < padded; b += 8) {
          std::uint32_t left = LoadBigEndian32(&expected[b]);
          std::uint32_t right = LoadBigEndian32(&expected[b + 4]);
          cipher.DecryptBlock(left, right);
          StoreBigEndian32(&expected[b], left);
          StoreBigEndian32(&expected[b + 4], right);
        }
        const std::vector<unsigned char> after(output.begin() + offset + padded, output.end());

        const unsigned char* in = inPlace ? out : input.data() + offset;
        ASSERT_EQ(cipher.Decrypt(in, out, len), static_cast<std::int32_t>(padded));
        EXPECT_EQ(std::vector<unsigned char>(out, out + padded), expected);
        EXPECT_EQ(std::vector<unsigned char>(output.begin() + offset + padded, output.end()),
                  after);
      }
    }
  }
}

}  // namespace
