#include "payload/payload_decipher.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>

#include "payload/base64.h"
#include "payload/blowfish.h"

namespace {

using ByteBuffer = std::unique_ptr<unsigned char[]>;

ByteBuffer MakeZeroedBuffer(std::size_t size) { return ByteBuffer(new unsigned char[size]()); }

}  // namespace

bool DecipherPayload(std::string_view data, std::string_view key, std::string& out) {
  if (data.empty()) return false;
  constexpr auto kMaxSize = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
  // Lengths are 32-bit throughout; a longer text cannot be a payload.
  if (key.empty() || key.size() > kMaxSize || data.size() > kMaxSize) return false;

  // One buffer for both steps: the text is decoded straight into it and
  // deciphered in place, sparing a second buffer and two copies of the
  // payload. It is large enough for the decoder and for whole blocks of the
  // longest ciphertext the text can hold, plus the customary spare byte.
  const std::size_t maxDecoded = data.size() / 4 * 3;
  const std::size_t bufferSize =
      std::max(Base64DecodeBufferSize(data.size()), RoundUpToBlocks(maxDecoded) + 1);
  ByteBuffer buffer = MakeZeroedBuffer(bufferSize);
  const std::int32_t decodedLen =
      Base64DecodeRaw(buffer.get(), data.data(), static_cast<std::int32_t>(data.size()));
  if (decodedLen < 0) return false;

  const auto length = static_cast<std::uint32_t>(decodedLen);
  const std::int32_t size = BlowfishCipher::GetOutputLength(length);
  if (size == 0) return false;
  // The decoder may leave one byte past the decoded length; a ciphertext that
  // stops inside a block must be deciphered with zeros for its missing bytes.
  std::fill(buffer.get() + length, buffer.get() + size, 0);

  const std::optional<BlowfishCipher> cipher = KeyedBlowfish(key);
  if (!cipher || cipher->Decrypt(buffer.get(), buffer.get(), length) == 0) return false;

  out.assign(reinterpret_cast<const char*>(buffer.get()), length);
  return true;
}
