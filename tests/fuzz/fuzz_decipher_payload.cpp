// DecipherPayload over arbitrary keys and data. Input: one byte giving the
// key length (1 to 72), the key, then the Base64 text. Whatever deciphers in
// whole blocks must encipher back to the decoded ciphertext.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "kvseal/seal_core.h"
#include "payload/base64.h"
#include "support/base64_decode.h"
#include "payload/payload_decipher.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t keyLength = 1 + data[0] % 72;
  if (size < 1 + keyLength) return 0;
  const std::string_view key(reinterpret_cast<const char*>(data + 1), keyLength);
  const std::string_view text(reinterpret_cast<const char*>(data + 1 + keyLength),
                              size - 1 - keyLength);

  std::string plain = "unchanged";
  const bool ok = DecipherPayload(text, key, plain);

  std::vector<unsigned char> cipherText(Base64DecodeBufferSize(text.size()));
  std::int32_t cipherLength = 0;
  const bool decodes = Base64Decode(cipherText.data(), cipherLength, text) && cipherLength > 0;
  if (ok != decodes) std::abort();
  if (!ok) {
    if (plain != "unchanged") std::abort();
    return 0;
  }
  if (plain.size() != static_cast<std::size_t>(cipherLength)) std::abort();
  if (plain.size() % 8 == 0) {
    const auto again = EncipherPayload(plain, key, SealPadding::kNone);
    if (!again || *again != std::string(cipherText.begin(), cipherText.begin() + cipherLength)) {
      std::abort();
    }
  }
  return 0;
}
