#include "payload/base64.h"

#include <cstring>
#include <limits>
#include <memory>

namespace {

std::uint32_t Lookup(const Base64PositionTable& table, char c) {
  return table[static_cast<unsigned char>(c)];
}

std::uint32_t DecodeGroup(const char* group) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  // One load for the group's four characters instead of four: the loop is
  // bound by loads, and the table lookups already need four.
  std::uint32_t chars;
  std::memcpy(&chars, group, sizeof chars);
  return kBase64Position0[chars & 0xFF] | kBase64Position1[(chars >> 8) & 0xFF] |
         kBase64Position2[(chars >> 16) & 0xFF] | kBase64Position3[chars >> 24];
#else
  return Lookup(kBase64Position0, group[0]) | Lookup(kBase64Position1, group[1]) |
         Lookup(kBase64Position2, group[2]) | Lookup(kBase64Position3, group[3]);
#endif
}

void StoreBytes(unsigned char* dest, std::uint32_t word, int count) {
  for (int i = 0; i < count; ++i) {
    dest[i] = static_cast<unsigned char>(word >> (8 * i));
  }
}

// A group's three bytes plus the word's zero top byte, as one store on
// little-endian machines. The fourth byte lands where the next group (or the
// tail) writes next, so it never survives.
void StoreGroup(unsigned char* dest, std::uint32_t word) {
  dest[0] = static_cast<unsigned char>(word);
  dest[1] = static_cast<unsigned char>(word >> 8);
  dest[2] = static_cast<unsigned char>(word >> 16);
  dest[3] = static_cast<unsigned char>(word >> 24);
}

}  // namespace

std::int32_t Base64DecodeRaw(unsigned char* dest, const char* src, std::int32_t len) {
  if (len == 0) return 0;
  if (len < 4 || len % 4 != 0) return -1;

  // At most two "=" are padding; a third stays and fails as an invalid
  // character, like any "=" before the end.
  if (src[len - 1] == '=') --len;
  if (src[len - 1] == '=') --len;

  const std::int32_t remainder = len % 4;
  const std::int32_t groups = remainder == 0 ? len / 4 - 1 : len / 4;
  // Every full store stays inside the buffer: the last group of the main
  // loop is followed by at least the tail's byte.
  std::int32_t g = 0;
  // Two groups per step: one test for both, and the loop's own cost halved.
  for (; g + 2 <= groups; g += 2) {
    const std::uint32_t first = DecodeGroup(src + 4 * g);
    const std::uint32_t second = DecodeGroup(src + 4 * g + 4);
    if ((first | second) >= DECODE_INVALID) return -1;
    StoreGroup(dest + 3 * g, first);
    StoreGroup(dest + 3 * g + 3, second);
  }
  if (g < groups) {
    const std::uint32_t word = DecodeGroup(src + 4 * g);
    if (word >= DECODE_INVALID) return -1;
    StoreGroup(dest + 3 * g, word);
  }

  const char* tail = src + 4 * groups;
  unsigned char* out = dest + 3 * groups;
  std::uint32_t word = 0;
  std::int32_t tailBytes = 0;
  switch (remainder) {
    case 0:
      word = DecodeGroup(tail);
      tailBytes = 3;
      break;
    case 2:
      word = Lookup(kBase64Position0, tail[0]) | Lookup(kBase64Position1, tail[1]);
      tailBytes = 1;
      break;
    default:
      word = Lookup(kBase64Position0, tail[0]) | Lookup(kBase64Position1, tail[1]) |
             Lookup(kBase64Position2, tail[2]);
      tailBytes = 2;
      break;
  }
  if (word >= DECODE_INVALID) return -1;
  // The unused low bits of the last character are not checked: senders that
  // leave them set still decode.
  StoreBytes(out, word, tailBytes);
  return groups * 3 + tailBytes;
}

bool Base64Decode(unsigned char* out, std::int32_t& outLen, std::string_view text) {
  // Lengths are 32-bit throughout; a longer text cannot be a payload.
  if (text.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    return false;
  }
  const auto length = static_cast<std::int32_t>(text.size());
  // A work buffer keeps `out` untouched when the text turns out invalid.
  std::unique_ptr<unsigned char[]> work(new unsigned char[Base64DecodeBufferSize(text.size())]());
  const std::int32_t decoded = Base64DecodeRaw(work.get(), text.data(), length);
  if (decoded < 0) return false;
  if (decoded > 0) std::memcpy(out, work.get(), static_cast<std::size_t>(decoded));
  outLen = decoded;
  return true;
}
