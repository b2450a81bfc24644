#include "payload/blowfish.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace {

// The largest length whose block-rounded size still fits a signed 32-bit count.
constexpr std::uint32_t kMaxLength =
    static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()) & ~7u;

}  // namespace

void BlowfishCipher::AllocateTables() {
  m_p.reset(new std::uint32_t[kPWords]());
  m_s.reset(new std::uint32_t[kSWords]());
}

void BlowfishCipher::FreeTables() {
  m_s.reset();
  m_p.reset();
}

bool BlowfishCipher::SetKey(const unsigned char* key, std::int32_t keyLen) {
  if (!m_p || !m_s || key == nullptr || keyLen < 1) return false;
  std::copy_n(blowfish_tables::kInitialP, kPWords, m_p.get());
  std::copy_n(blowfish_tables::kInitialS, kSWords, m_s.get());

  // The key is cycled over the P-array, four bytes per word, big-endian.
  std::int32_t j = 0;
  for (int i = 0; i < kPWords; ++i) {
    std::uint32_t word = 0;
    for (int k = 0; k < 4; ++k) {
      word = (word << 8) | key[j];
      j = (j + 1) % keyLen;
    }
    m_p[i] ^= word;
  }

  // Each table word is replaced by the cipher's own output under the tables
  // so far, chaining L and R from the P-array through all four S-boxes.
  std::uint32_t left = 0;
  std::uint32_t right = 0;
  for (int i = 0; i < kPWords; i += 2) {
    EncryptBlock(left, right);
    m_p[i] = left;
    m_p[i + 1] = right;
  }
  for (int i = 0; i < kSWords; i += 2) {
    EncryptBlock(left, right);
    m_s[i] = left;
    m_s[i + 1] = right;
  }
  return true;
}

std::uint32_t BlowfishCipher::Feistel(std::uint32_t x) const {
  const std::uint32_t* s = m_s.get();
  return ((s[x >> 24] + s[256 + ((x >> 16) & 0xFF)]) ^ s[512 + ((x >> 8) & 0xFF)]) +
         s[768 + (x & 0xFF)];
}

void BlowfishCipher::EncryptBlock(std::uint32_t& left, std::uint32_t& right) const {
  std::uint32_t l = left;
  std::uint32_t r = right;
  for (int i = 0; i < kRounds; ++i) {
    l ^= m_p[i];
    r ^= Feistel(l);
    std::swap(l, r);
  }
  std::swap(l, r);
  r ^= m_p[kRounds];
  l ^= m_p[kRounds + 1];
  left = l;
  right = r;
}

void BlowfishCipher::DecryptBlock(std::uint32_t& left, std::uint32_t& right) const {
  std::uint32_t l = left;
  std::uint32_t r = right;
  for (int i = kRounds + 1; i > 1; --i) {
    l ^= m_p[i];
    r ^= Feistel(l);
    std::swap(l, r);
  }
  std::swap(l, r);
  r ^= m_p[1];
  l ^= m_p[0];
  left = l;
  right = r;
}

std::int32_t BlowfishCipher::Decrypt(const unsigned char* in, unsigned char* out,
                                     std::uint32_t len) const {
  if (len == 0 || len > kMaxLength) return 0;
  if (in != out) std::memmove(out, in, len);

  const std::uint32_t blocks = ((len - 1) >> 3) + 1;
  for (std::uint32_t b = 0; b < blocks; ++b) {
    unsigned char* block = out + b * kBlockSize;
    std::uint32_t left = LoadBigEndian32(block);
    std::uint32_t right = LoadBigEndian32(block + 4);
    DecryptBlock(left, right);
    StoreBigEndian32(block, left);
    StoreBigEndian32(block + 4, right);
  }
  return static_cast<std::int32_t>(blocks * kBlockSize);
}

std::int32_t BlowfishCipher::GetOutputLength(std::uint32_t len) {
  if (len > kMaxLength) return 0;
  return static_cast<std::int32_t>((len + kBlockSize - 1) & ~(kBlockSize - 1));
}
