#include "kvseal/seal_core.h"

#include <algorithm>
#include <cstdint>

#include "payload/blowfish.h"

namespace {

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t kBlockSize = BlowfishCipher::kBlockSize;

bool HasPkcs5Padding(const std::string& text) {
  if (text.empty()) return false;
  const auto count = static_cast<unsigned char>(text.back());
  if (count < 1 || count > kBlockSize || count > text.size()) return false;
  for (std::size_t i = text.size() - count; i < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i]) != count) return false;
  }
  return true;
}

}  // namespace

std::size_t PaddedLength(std::size_t length, SealPadding padding) {
  // PKCS#5 always adds at least one byte, a whole block of them when the
  // text already ends on a block boundary.
  return RoundUpToBlocks(padding == SealPadding::kPkcs5 ? length + 1 : length);
}

std::optional<std::string> PadPlaintext(std::string_view plain, SealPadding padding) {
  const std::size_t count = PaddedLength(plain.size(), padding) - plain.size();
  if (padding == SealPadding::kNone && count != 0) return std::nullopt;
  // PKCS#5 bytes each hold the count; zero filler is zero bytes.
  const char filler = padding == SealPadding::kPkcs5 ? static_cast<char>(count) : '\0';
  std::string padded(plain);
  padded.append(count, filler);
  return padded;
}

std::string StripFiller(std::string text) {
  if (HasPkcs5Padding(text)) {
    text.resize(text.size() - static_cast<unsigned char>(text.back()));
    return text;
  }
  for (std::size_t i = 0; i + 1 < kBlockSize && !text.empty() && text.back() == '\0'; ++i) {
    text.pop_back();
  }
  return text;
}

std::string Base64Encode(std::string_view bytes) {
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t group = 0;
    for (std::size_t k = 0; k < 3; ++k) {
      const auto byte = k < count ? static_cast<unsigned char>(bytes[i + k]) : 0u;
      group = (group << 8) | byte;
    }
    // A group of n bytes yields n + 1 characters; "=" fills the rest.
    for (std::size_t k = 0; k < 4; ++k) {
      text += k <= count ? kBase64Alphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
    }
  }
  return text;
}

std::optional<std::string> EncipherPayload(std::string_view plain, std::string_view key,
                                           SealPadding padding) {
  const std::optional<BlowfishCipher> cipher = KeyedBlowfish(key);
  std::optional<std::string> padded = PadPlaintext(plain, padding);
  if (!cipher || !padded) return std::nullopt;
  auto* bytes = reinterpret_cast<unsigned char*>(padded->data());
  for (std::size_t offset = 0; offset < padded->size(); offset += kBlockSize) {
    std::uint32_t left = LoadBigEndian32(bytes + offset);
    std::uint32_t right = LoadBigEndian32(bytes + offset + 4);
    cipher->EncryptBlock(left, right);
    StoreBigEndian32(bytes + offset, left);
    StoreBigEndian32(bytes + offset + 4, right);
  }
  return padded;
}

std::string SealConfigEnvelope(std::string_view configText, std::string_view key,
                               SealPadding padding) {
  const std::optional<std::string> cipherText = EncipherPayload(configText, key, padding);
  if (!cipherText) return {};
  // The Base64 alphabet needs no JSON escaping.
  return R"({"errno":0,"data":")" + Base64Encode(*cipherText) + R"("})";
}
