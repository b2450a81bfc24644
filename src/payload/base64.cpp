#include "payload/base64.h"

#include <array>
#include <cstring>
#include <limits>
#include <memory>

namespace {

// The four position tables end to end. The main loop then needs one base
// register for all of them instead of four, and x86-64 has too few to spare.
constexpr std::array<std::uint32_t, 4 * 256> MakeJoinedTables() {
  const Base64PositionTable* tables[] = {&kBase64Position0, &kBase64Position1, &kBase64Position2,
                                         &kBase64Position3};
  std::array<std::uint32_t, 4 * 256> joined{};
  for (int position = 0; position < 4; ++position) {
    for (int c = 0; c < 256; ++c) joined[256 * position + c] = (*tables[position])[c];
  }
  return joined;
}

constexpr std::array<std::uint32_t, 4 * 256> kJoinedTables = MakeJoinedTables();

// The table entry of byte `c` in position `position` of its group.
// The index is widened before the position's offset is added, so that the
// offset can become the load's displacement instead of an add on the index.
std::uint32_t JoinedLookup(std::size_t position, std::uint32_t c) {
  return kJoinedTables[256 * position + std::size_t{c & 0xFF}];
}

// The group's characters as single-byte loads: no ALU work to take them
// apart, one load each.
std::uint32_t DecodeGroupBytes(const char* group) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(group);
  return JoinedLookup(0, bytes[0]) | JoinedLookup(1, bytes[1]) | JoinedLookup(2, bytes[2]) |
         JoinedLookup(3, bytes[3]);
}

// The group's characters from one four-byte load, taken apart with shifts:
// one load instead of four, paid for in ALU work.
std::uint32_t DecodeGroup(const char* group) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  std::uint32_t chars;
  std::memcpy(&chars, group, sizeof chars);
  return JoinedLookup(0, chars) | JoinedLookup(1, chars >> 8) | JoinedLookup(2, chars >> 16) |
         JoinedLookup(3, chars >> 24);
#else
  return DecodeGroupBytes(group);
#endif
}

void StoreBytes(unsigned char* dest, std::uint32_t word, int count) {
  for (int i = 0; i < count; ++i) {
    dest[i] = static_cast<unsigned char>(word >> (8 * i));
  }
}

// A group's three bytes plus the word's zero top byte, as one store. The
// fourth byte lands where the next group (or the tail) writes next, so it
// never survives. Byte stores here invite a compiler to merge neighbouring
// groups' stores at a shift and an OR per byte (docs/performance.md,
// "Compiler notes").
void StoreGroup(unsigned char* dest, std::uint32_t word) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  std::memcpy(dest, &word, sizeof word);
#else
  StoreBytes(dest, word, 4);
#endif
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
  //
  // Four groups per step, one test for all four. The loop is bound by load
  // slots and ALU work together, so the two ways of reading a group
  // alternate: together they keep both kinds of unit busy where either one
  // alone leaves the other idle.
  // Pointers rather than a group index: one register fewer, which x86-64
  // needs to keep the loop out of memory.
  const char* chars = src;
  unsigned char* decoded = dest;
  const char* const stepsEnd = src + 16 * (groups / 4);
  for (; chars != stepsEnd; chars += 16, decoded += 12) {
    const std::uint32_t first = DecodeGroup(chars);
    const std::uint32_t second = DecodeGroupBytes(chars + 4);
    const std::uint32_t third = DecodeGroup(chars + 8);
    const std::uint32_t fourth = DecodeGroupBytes(chars + 12);
    if ((first | second | third | fourth) >= DECODE_INVALID) return -1;
    StoreGroup(decoded, first);
    StoreGroup(decoded + 3, second);
    StoreGroup(decoded + 6, third);
    StoreGroup(decoded + 9, fourth);
  }
  for (std::int32_t g = groups / 4 * 4; g < groups; ++g) {
    const std::uint32_t word = DecodeGroup(src + 4 * g);
    if (word >= DECODE_INVALID) return -1;
    StoreGroup(dest + 3 * g, word);
  }

  const auto* tail = reinterpret_cast<const unsigned char*>(src + 4 * groups);
  unsigned char* out = dest + 3 * groups;
  std::uint32_t word = 0;
  std::int32_t tailBytes = 0;
  switch (remainder) {
    case 0:
      word = DecodeGroup(src + 4 * groups);
      tailBytes = 3;
      break;
    case 2:
      word = JoinedLookup(0, tail[0]) | JoinedLookup(1, tail[1]);
      tailBytes = 1;
      break;
    default:
      word = JoinedLookup(0, tail[0]) | JoinedLookup(1, tail[1]) | JoinedLookup(2, tail[2]);
      tailBytes = 2;
      break;
  }
  if (word >= DECODE_INVALID) return -1;
  // The unused low bits of the last character are not checked: senders that
  // leave them set still decode.
  StoreBytes(out, word, tailBytes);
  return groups * 3 + tailBytes;
}
