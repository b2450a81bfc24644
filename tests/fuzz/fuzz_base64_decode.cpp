// Base64Decode and Base64DecodeRaw against a deliberately naive reference
// decoder: a bit accumulator over a linear alphabet search, sharing nothing
// with the table-driven decoder but the rules.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "payload/base64.h"
#include "support/base64_decode.h"

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

// A failed decode must leave the caller's buffer and length alone, and a
// successful one write no byte past the decoded length.
constexpr unsigned char kUntouched = 0xA5;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<std::string> expected = ReferenceDecode(text);

  std::vector<unsigned char> out(Base64DecodeBufferSize(size), kUntouched);
  std::int32_t length = -1;
  const bool ok = Base64Decode(out.data(), length, text);
  if (ok != expected.has_value()) std::abort();
  const std::size_t written = ok ? static_cast<std::size_t>(length) : 0;
  if (!ok && length != -1) std::abort();
  if (ok && std::string(out.begin(), out.begin() + length) != *expected) std::abort();
  for (std::size_t i = written; i < out.size(); ++i) {
    if (out[i] != kUntouched) std::abort();
  }

  // The raw routine on its own, in a buffer of exactly the documented size
  // so that ASan sees any write past it.
  std::vector<unsigned char> raw(Base64DecodeBufferSize(size));
  const std::int32_t rawLength =
      Base64DecodeRaw(raw.data(), text.data(), static_cast<std::int32_t>(size));
  if ((rawLength >= 0) != ok) std::abort();
  if (ok && (rawLength != length || std::memcmp(raw.data(), out.data(), written) != 0)) {
    std::abort();
  }
  return 0;
}
