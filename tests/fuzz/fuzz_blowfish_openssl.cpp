// BlowfishCipher against OpenSSL's Blowfish, an implementation that shares
// none of our code: the key schedule through single blocks both ways, and
// Decrypt over whole buffers, whose interleaved path only runs for several
// blocks at once. Input: one byte giving the key length (1 to 72), one byte
// of options, the key, then the data (any length; a partial last block is
// filled with the option byte, as Decrypt leaves the bytes past the end).

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <openssl/blowfish.h>

#include "payload/blowfish.h"

namespace {

constexpr std::size_t kHeaderSize = 2;
constexpr std::size_t kMaxKeyLength = 72;  // the key schedule reads no further
constexpr std::size_t kBlock = BlowfishCipher::kBlockSize;

// Option bits: decipher in place, and where the output starts relative to
// an aligned buffer (the cipher must not rely on alignment).
constexpr unsigned kInPlace = 0x01;
constexpr unsigned kOffsetShift = 1;
constexpr unsigned kOffsetMask = 0x07;

struct FuzzInput {
  const unsigned char* key;
  std::size_t keyLength;
  const unsigned char* data;
  std::size_t dataLength;
  unsigned char options;
};

bool SplitInput(const std::uint8_t* bytes, std::size_t size, FuzzInput& input) {
  if (size < kHeaderSize) return false;
  input.keyLength = 1 + bytes[0] % kMaxKeyLength;
  if (size < kHeaderSize + input.keyLength) return false;
  input.options = bytes[1];
  input.key = bytes + kHeaderSize;
  input.data = input.key + input.keyLength;
  input.dataLength = size - kHeaderSize - input.keyLength;
  return true;
}

void OpensslBlock(const BF_KEY& key, const unsigned char* in, unsigned char* out, int mode) {
  BF_ecb_encrypt(in, out, &key, mode);
}

// Each whole block of the data, taken as a plaintext, must encipher as
// OpenSSL does and decipher back; and taken as a ciphertext, decipher as
// OpenSSL does.
void CheckBlocks(const BlowfishCipher& cipher, const BF_KEY& reference, const FuzzInput& input) {
  for (std::size_t offset = 0; offset + kBlock <= input.dataLength; offset += kBlock) {
    const unsigned char* block = input.data + offset;
    unsigned char expected[kBlock];
    unsigned char actual[kBlock];

    OpensslBlock(reference, block, expected, BF_ENCRYPT);
    std::uint32_t left = LoadBigEndian32(block);
    std::uint32_t right = LoadBigEndian32(block + 4);
    cipher.EncryptBlock(left, right);
    StoreBigEndian32(actual, left);
    StoreBigEndian32(actual + 4, right);
    if (std::memcmp(actual, expected, kBlock) != 0) std::abort();

    cipher.DecryptBlock(left, right);
    if (left != LoadBigEndian32(block) || right != LoadBigEndian32(block + 4)) std::abort();

    OpensslBlock(reference, block, expected, BF_DECRYPT);
    left = LoadBigEndian32(block);
    right = LoadBigEndian32(block + 4);
    cipher.DecryptBlock(left, right);
    StoreBigEndian32(actual, left);
    StoreBigEndian32(actual + 4, right);
    if (std::memcmp(actual, expected, kBlock) != 0) std::abort();
  }
}

// Decrypt over the whole data, with the partial last block completed by the
// filler byte already in the output buffer.
void CheckBuffer(const BlowfishCipher& cipher, const BF_KEY& reference, const FuzzInput& input) {
  if (input.dataLength == 0) {
    unsigned char untouched = input.options;
    if (cipher.Decrypt(&untouched, &untouched, 0) != 0 || untouched != input.options) std::abort();
    return;
  }
  const auto length = static_cast<std::uint32_t>(input.dataLength);
  const std::int32_t rounded = BlowfishCipher::GetOutputLength(length);
  if (rounded != static_cast<std::int32_t>((input.dataLength + kBlock - 1) / kBlock * kBlock)) {
    std::abort();
  }

  const unsigned char filler = input.options;
  std::vector<unsigned char> padded(input.data, input.data + input.dataLength);
  padded.resize(static_cast<std::size_t>(rounded), filler);
  std::vector<unsigned char> expected(padded.size());
  for (std::size_t offset = 0; offset < padded.size(); offset += kBlock) {
    OpensslBlock(reference, padded.data() + offset, expected.data() + offset, BF_DECRYPT);
  }

  // The output sits at an offset into a buffer sized exactly, so that ASan
  // catches a write past the rounded length.
  const std::size_t shift = (input.options >> kOffsetShift) & kOffsetMask;
  std::vector<unsigned char> buffer(shift + static_cast<std::size_t>(rounded), filler);
  unsigned char* out = buffer.data() + shift;
  const unsigned char* in = input.data;
  if ((input.options & kInPlace) != 0) {
    std::memcpy(out, input.data, input.dataLength);
    in = out;
  }
  const std::int32_t processed = cipher.Decrypt(in, out, length);
  if (processed != rounded) std::abort();
  if (std::memcmp(out, expected.data(), expected.size()) != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input{};
  if (!SplitInput(data, size, input)) return 0;

  BF_KEY reference;
  BF_set_key(&reference, static_cast<int>(input.keyLength), input.key);

  // A schedule under another key first: re-keying must start over from the
  // initial tables, not from the previous key's.
  BlowfishCipher cipher;
  cipher.AllocateTables();
  const unsigned char otherKey[] = {static_cast<unsigned char>(~input.key[0])};
  if (!cipher.SetKey(otherKey, sizeof(otherKey))) std::abort();
  if (!cipher.SetKey(input.key, static_cast<std::int32_t>(input.keyLength))) std::abort();

  CheckBlocks(cipher, reference, input);
  CheckBuffer(cipher, reference, input);
  return 0;
}
