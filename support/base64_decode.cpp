#include "support/base64_decode.h"

#include <cstring>
#include <limits>
#include <memory>

#include "payload/base64.h"

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
