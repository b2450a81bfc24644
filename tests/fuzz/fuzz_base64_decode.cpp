// Base64Decode against a deliberately naive reference decoder: a bit
// accumulator over a linear alphabet search, sharing nothing with the
// table-driven decoder but the rules.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "payload/base64.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::optional<std::string> ReferenceDecode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::size_t padding = 0;
  while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') ++padding;
  std::string bytes;
  std::uint32_t bits = 0;
  int bitCount = 0;
  for (std::size_t i = 0; i + padding < text.size(); ++i) {
    const void* found = std::memchr(kAlphabet, text[i], 64);
    if (found == nullptr) return std::nullopt;
    bits = (bits << 6) | static_cast<std::uint32_t>(static_cast<const char*>(found) - kAlphabet);
    bitCount += 6;
    if (bitCount >= 8) {
      bitCount -= 8;
      bytes += static_cast<char>((bits >> bitCount) & 0xFF);
    }
  }
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<unsigned char> out(Base64DecodeBufferSize(size));
  std::int32_t length = -1;
  const bool ok = Base64Decode(out.data(), length, text);
  const std::optional<std::string> expected = ReferenceDecode(text);
  if (ok != expected.has_value()) std::abort();
  if (ok && std::string(out.begin(), out.begin() + length) != *expected) std::abort();
  return 0;
}
