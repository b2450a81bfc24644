#pragma once

// Blowfish: 64-bit blocks, 16 rounds, keys of 1 to 72 bytes (bytes past the
// 72nd do not reach the key schedule). Blocks are two words read big-endian,
// as in the published definition and its test vectors.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

namespace blowfish_tables {
// The initial P-array and S-boxes (S-box k is words 256k to 256k + 255).
extern const std::uint32_t kInitialP[18];
extern const std::uint32_t kInitialS[1024];
}  // namespace blowfish_tables

class BlowfishCipher {
 public:
  static constexpr int kRounds = 16;
  static constexpr int kPWords = kRounds + 2;
  static constexpr int kSWords = 4 * 256;
  static constexpr std::uint32_t kBlockSize = 8;

  BlowfishCipher() = default;
  BlowfishCipher(const BlowfishCipher&) = delete;
  BlowfishCipher& operator=(const BlowfishCipher&) = delete;
  BlowfishCipher(BlowfishCipher&&) noexcept = default;
  BlowfishCipher& operator=(BlowfishCipher&&) noexcept = default;

  // Tables are zeroed until SetKey and released by the destructor.
  void AllocateTables();

  // Runs the key schedule. False, with the tables unchanged, when the tables
  // are not allocated or the key is empty.
  [[nodiscard]] bool SetKey(const unsigned char* key, std::int32_t keyLen);

  // One block in place. Require allocated tables.
  void EncryptBlock(std::uint32_t& left, std::uint32_t& right) const;
  void DecryptBlock(std::uint32_t& left, std::uint32_t& right) const;

  // ECB over `len` bytes, copied from `in` to `out` first when they differ.
  // `out` must hold GetOutputLength(len) bytes: the bytes past `len` fill the
  // last block as they stand. Returns the bytes processed (a multiple of 8),
  // 0 for nothing or for a length too large for the 32-bit result. Padding
  // is neither examined nor removed.
  std::int32_t Decrypt(const unsigned char* in, unsigned char* out, std::uint32_t len) const;

  // `len` rounded up to whole blocks; 0 when that does not fit the result.
  static std::int32_t GetOutputLength(std::uint32_t len);

 private:
  std::unique_ptr<std::uint32_t[]> m_p;
  std::unique_ptr<std::uint32_t[]> m_s;
};

// A cipher with its tables allocated and keyed with `key`'s bytes; nothing
// for an empty key or one too long for the 32-bit key length.
std::optional<BlowfishCipher> KeyedBlowfish(std::string_view key);

// Helpers shared by the cipher and the sealing tool.

// `length` rounded up to whole cipher blocks; callers keep it far enough
// below the type's limit that adding a block cannot wrap.
constexpr std::size_t RoundUpToBlocks(std::size_t length) {
  constexpr std::size_t kBlock = BlowfishCipher::kBlockSize;
  return (length + kBlock - 1) / kBlock * kBlock;
}

inline std::uint32_t LoadBigEndian32(const unsigned char* bytes) {
  return (static_cast<std::uint32_t>(bytes[0]) << 24) |
         (static_cast<std::uint32_t>(bytes[1]) << 16) |
         (static_cast<std::uint32_t>(bytes[2]) << 8) | static_cast<std::uint32_t>(bytes[3]);
}

inline void StoreBigEndian32(unsigned char* bytes, std::uint32_t word) {
  bytes[0] = static_cast<unsigned char>(word >> 24);
  bytes[1] = static_cast<unsigned char>(word >> 16);
  bytes[2] = static_cast<unsigned char>(word >> 8);
  bytes[3] = static_cast<unsigned char>(word);
}
