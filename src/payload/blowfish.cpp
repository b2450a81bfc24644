#include "payload/blowfish.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace {

// The largest length whose block-rounded size still fits a signed 32-bit count.
constexpr std::uint32_t kMaxLength =
    static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()) & ~7u;

// ECB blocks are independent, so this many are deciphered side by side: each
// round's four S-box loads of one block then overlap with the others' instead
// of waiting on them. Four keeps every lane in registers on x86-64; on i686
// some spill, which still beats one block at a time.
constexpr std::uint32_t kLanes = 4;

// Byte `shift / 8` of `x`, as an S-box index. A narrowing cast rather than a
// mask: it keeps a redundant copy off the round's critical path
// (docs/performance.md, "Compiler notes").
inline std::uint8_t ByteAt(std::uint32_t x, int shift) {
  return static_cast<std::uint8_t>(x >> shift);
}

// One pointer per S-box: the compiler then folds each box's offset into the
// address instead of spending an add on the round's critical path.
inline std::uint32_t Feistel(const std::uint32_t* s, std::uint32_t x) {
  const std::uint32_t* s1 = s + 256;
  const std::uint32_t* s2 = s + 512;
  const std::uint32_t* s3 = s + 768;
  return ((s[ByteAt(x, 24)] + s1[ByteAt(x, 16)]) ^ s2[ByteAt(x, 8)]) + s3[ByteAt(x, 0)];
}

// The rounds are written two at a time, each half folding the next P word
// into the Feistel output, so no swap is needed and the words come out
// crossed: the caller's left is `r`, its right is `l`. Index sequences make
// the lanes plain scalars after inlining, whatever the compiler's unrolling.
template <std::size_t... Lane>
inline void DecryptLanes(const std::uint32_t* p, const std::uint32_t* s, std::uint32_t* l,
                         std::uint32_t* r, std::index_sequence<Lane...>) {
  ((l[Lane] ^= p[BlowfishCipher::kRounds + 1]), ...);
  for (int i = BlowfishCipher::kRounds; i > 0; i -= 2) {
    ((r[Lane] ^= Feistel(s, l[Lane]) ^ p[i]), ...);
    ((l[Lane] ^= Feistel(s, r[Lane]) ^ p[i - 1]), ...);
  }
  ((r[Lane] ^= p[0]), ...);
}

// One block's 16 rounds as a straight line, for the key schedule's chain of
// dependent encryptions, where only a round's latency counts. The halves
// come in already XORed with P[0] and P[1] and leave without P[17]: the
// schedule then whitens the next block's input while this block's last
// round still runs. Every later P word is XORed into its target half before
// the Feistel output arrives, which keeps it off the chain too. No loop
// around the rounds: inside one, the compiler moves that XOR back onto the
// chain (docs/performance.md, "Compiler notes").
template <std::size_t... Pair>
inline void EncryptWhitened(const std::uint32_t* p, const std::uint32_t* s, std::uint32_t& l,
                            std::uint32_t& r, std::index_sequence<Pair...>) {
  r ^= Feistel(s, l);
  ((l ^= p[2 * Pair + 2], l ^= Feistel(s, r), r ^= p[2 * Pair + 3], r ^= Feistel(s, l)), ...);
  l ^= p[BlowfishCipher::kRounds];
  l ^= Feistel(s, r);
}

constexpr auto kMiddleRoundPairs = std::make_index_sequence<BlowfishCipher::kRounds / 2 - 1>();

inline void EncryptWords(const std::uint32_t* p, const std::uint32_t* s, std::uint32_t& left,
                         std::uint32_t& right) {
  std::uint32_t l = left ^ p[0];
  std::uint32_t r = right ^ p[1];
  EncryptWhitened(p, s, l, r, kMiddleRoundPairs);
  left = r ^ p[BlowfishCipher::kRounds + 1];
  right = l;
}

// Deciphers `Count` consecutive blocks of `bytes` in place.
template <std::size_t Count, std::size_t... Lane>
inline void DecryptBlocks(const std::uint32_t* p, const std::uint32_t* s, unsigned char* bytes,
                          std::index_sequence<Lane...> lanes) {
  constexpr std::size_t kBlock = BlowfishCipher::kBlockSize;
  std::uint32_t l[Count] = {LoadBigEndian32(bytes + Lane * kBlock)...};
  std::uint32_t r[Count] = {LoadBigEndian32(bytes + Lane * kBlock + 4)...};
  DecryptLanes(p, s, l, r, lanes);
  (StoreBigEndian32(bytes + Lane * kBlock, r[Lane]), ...);
  (StoreBigEndian32(bytes + Lane * kBlock + 4, l[Lane]), ...);
}

}  // namespace

void BlowfishCipher::AllocateTables() {
  m_p.reset(new std::uint32_t[kPWords]());
  m_s.reset(new std::uint32_t[kSWords]());
}

bool BlowfishCipher::SetKey(const unsigned char* key, std::int32_t keyLen) {
  if (!m_p || !m_s || key == nullptr || keyLen < 1) return false;
  // The two arrays never overlap; saying so lets the compiler schedule the
  // P-word loads ahead of the S-box stores instead of after each one.
  std::uint32_t* __restrict p = m_p.get();
  std::uint32_t* __restrict s = m_s.get();
  std::copy_n(blowfish_tables::kInitialP, kPWords, p);
  std::copy_n(blowfish_tables::kInitialS, kSWords, s);

  // The key is cycled over the P-array, four bytes per word, big-endian.
  std::int32_t j = 0;
  for (int i = 0; i < kPWords; ++i) {
    std::uint32_t word = 0;
    for (int k = 0; k < 4; ++k) {
      word = (word << 8) | key[j];
      j = j + 1 == keyLen ? 0 : j + 1;
    }
    p[i] ^= word;
  }

  // Each table word is replaced by the cipher's own output under the tables
  // so far, chaining L and R from the P-array through all four S-boxes. The
  // 521 encryptions form one dependent chain, so the only lever is keeping
  // each one inlined and free of calls and reloads of the table pointers.
  std::uint32_t left = 0;
  std::uint32_t right = 0;
  for (int i = 0; i < kPWords; i += 2) {
    EncryptWords(p, s, left, right);
    p[i] = left;
    p[i + 1] = right;
  }
  // The P words are final now, so the output of one encryption becomes the
  // next one's whitened input with one XOR each (P[17] and P[0] combined).
  const std::uint32_t pOutIn = p[kRounds + 1] ^ p[0];
  std::uint32_t l = left ^ p[0];
  std::uint32_t r = right ^ p[1];
  for (int i = 0; i < kSWords; i += 2) {
    EncryptWhitened(p, s, l, r, kMiddleRoundPairs);
    s[i] = r ^ p[kRounds + 1];
    s[i + 1] = l;
    const std::uint32_t nextLeft = r ^ pOutIn;
    r = l ^ p[1];
    l = nextLeft;
  }
  return true;
}

void BlowfishCipher::EncryptBlock(std::uint32_t& left, std::uint32_t& right) const {
  EncryptWords(m_p.get(), m_s.get(), left, right);
}

void BlowfishCipher::DecryptBlock(std::uint32_t& left, std::uint32_t& right) const {
  std::uint32_t l[1] = {left};
  std::uint32_t r[1] = {right};
  DecryptLanes(m_p.get(), m_s.get(), l, r, std::make_index_sequence<1>());
  left = r[0];
  right = l[0];
}

std::int32_t BlowfishCipher::Decrypt(const unsigned char* in, unsigned char* out,
                                     std::uint32_t len) const {
  if (len == 0 || len > kMaxLength) return 0;
  if (in != out) std::memmove(out, in, len);

  const auto blocks = static_cast<std::uint32_t>(RoundUpToBlocks(len) / kBlockSize);
  const std::uint32_t* p = m_p.get();
  const std::uint32_t* s = m_s.get();
  std::uint32_t b = 0;
  for (; b + kLanes <= blocks; b += kLanes) {
    DecryptBlocks<kLanes>(p, s, out + b * kBlockSize, std::make_index_sequence<kLanes>());
  }
  for (; b < blocks; ++b) {
    DecryptBlocks<1>(p, s, out + b * kBlockSize, std::make_index_sequence<1>());
  }
  return static_cast<std::int32_t>(blocks * kBlockSize);
}

std::int32_t BlowfishCipher::GetOutputLength(std::uint32_t len) {
  if (len > kMaxLength) return 0;
  return static_cast<std::int32_t>(RoundUpToBlocks(len));
}

std::optional<BlowfishCipher> KeyedBlowfish(std::string_view key) {
  if (key.empty() ||
      key.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    return std::nullopt;
  }
  std::optional<BlowfishCipher> cipher(std::in_place);
  cipher->AllocateTables();
  if (!cipher->SetKey(reinterpret_cast<const unsigned char*>(key.data()),
                      static_cast<std::int32_t>(key.size()))) {
    return std::nullopt;
  }
  return cipher;
}
