#pragma once

// Strict decoding of padded standard Base64 (RFC 4648, section 4): no white
// space, no URL-safe characters, "=" only as trailing padding.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// Marks a byte outside the alphabet in every position table. It is chosen so
// that the OR of a group's four entries is at least this value as soon as one
// entry is invalid, while a valid group never exceeds 0x00FFFFFF: one compare
// per group replaces a test per character.
inline constexpr std::uint32_t DECODE_INVALID = 0x01FFFFFF;

using Base64PositionTable = std::array<std::uint32_t, 256>;

namespace base64_internal {

constexpr int kNoValue = -1;

constexpr int AlphabetValue(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return kNoValue;
}

// Each entry places a character's six bits where they land in the group's
// three output bytes, held little-endian in one word (first byte lowest).
constexpr std::uint32_t PlaceBits(int position, std::uint32_t v) {
  switch (position) {
    case 0:
      return v << 2;
    case 1:
      return (v >> 4) | ((v & 0x0F) << 12);
    case 2:
      return ((v >> 2) << 8) | ((v & 0x03) << 22);
    default:
      return v << 16;
  }
}

constexpr Base64PositionTable MakePositionTable(int position) {
  Base64PositionTable table{};
  for (int c = 0; c < 256; ++c) {
    const int v = AlphabetValue(static_cast<unsigned char>(c));
    table[c] = v == kNoValue ? DECODE_INVALID : PlaceBits(position, static_cast<std::uint32_t>(v));
  }
  return table;
}

}  // namespace base64_internal

// Lookup tables for the four positions of a character within a group,
// indexed by the character's byte value.
inline constexpr Base64PositionTable kBase64Position0 = base64_internal::MakePositionTable(0);
inline constexpr Base64PositionTable kBase64Position1 = base64_internal::MakePositionTable(1);
inline constexpr Base64PositionTable kBase64Position2 = base64_internal::MakePositionTable(2);
inline constexpr Base64PositionTable kBase64Position3 = base64_internal::MakePositionTable(3);

// Size of the buffer the decoders need for `textLength` characters. The two
// spare bytes leave room for a partial last group.
constexpr std::size_t Base64DecodeBufferSize(std::size_t textLength) {
  return (textLength / 4) * 3 + 2;
}

// Decodes `len` characters of `src` into `dest`, which must hold
// Base64DecodeBufferSize(len) bytes. Returns the decoded length, or -1 when
// the text is not strict padded Base64; `dest` is then unspecified.
[[nodiscard]] std::int32_t Base64DecodeRaw(unsigned char* dest, const char* src, std::int32_t len);
