#include "payload/payload_decipher.h"

#include <cstdint>
#include <limits>
#include <memory>

#include "payload/base64.h"
#include "payload/blowfish.h"

namespace {

using ByteBuffer = std::unique_ptr<unsigned char[]>;

ByteBuffer MakeZeroedBuffer(std::size_t size) { return ByteBuffer(new unsigned char[size]()); }

}  // namespace

bool DecipherPayload(std::string_view data, std::string_view key, std::string& out) {
  if (data.empty()) return false;
  if (key.empty() ||
      key.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    return false;
  }

  ByteBuffer cipherText = MakeZeroedBuffer(Base64DecodeBufferSize(data.size()));
  std::int32_t decodedLen = 0;
  if (!Base64Decode(cipherText.get(), decodedLen, data)) return false;

  const auto length = static_cast<std::uint32_t>(decodedLen);
  const std::int32_t size = BlowfishCipher::GetOutputLength(length);
  if (size == 0) return false;

  BlowfishCipher cipher;
  cipher.AllocateTables();
  if (!cipher.SetKey(reinterpret_cast<const unsigned char*>(key.data()),
                     static_cast<std::int32_t>(key.size()))) {
    return false;
  }

  // Zero-filled and a block multiple: a ciphertext that stops inside a block
  // is deciphered with zeros for its missing bytes, never with stale memory.
  ByteBuffer plain = MakeZeroedBuffer(static_cast<std::size_t>(size) + 1);
  if (cipher.Decrypt(cipherText.get(), plain.get(), length) == 0) return false;

  out.assign(reinterpret_cast<const char*>(plain.get()), length);
  return true;
}
