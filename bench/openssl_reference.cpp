#include "openssl_reference.h"

#include <json/json.h>
#include <openssl/blowfish.h>
#include <openssl/evp.h>

#include <cstring>
#include <memory>
#include <vector>

#include "payload/config_envelope.h"

namespace {

bool ParseJson(const std::string& text, Json::Value& root) {
  const Json::CharReaderBuilder builder;
  const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  std::string errors;
  try {
    return reader->parse(text.data(), text.data() + text.size(), &root, &errors);
  } catch (const Json::Exception&) {
    return false;
  }
}

}  // namespace

int ReferenceBase64Decode(unsigned char* dest, const char* src, int len) {
  const int decoded = EVP_DecodeBlock(dest, reinterpret_cast<const unsigned char*>(src), len);
  if (decoded < 0) return -1;
  // EVP_DecodeBlock counts the padding as zero bytes.
  int padding = 0;
  if (len > 0 && src[len - 1] == '=') ++padding;
  if (len > 1 && src[len - 2] == '=') ++padding;
  return decoded - padding;
}

std::string ReferenceParseConfigEnvelope(const char* body) {
  const std::string text(body);
  Json::Value parsed;
  ParseJson(text, parsed);
  // Const access: a missing member must not be inserted by the lookup.
  const Json::Value& envelope = parsed;
  if (!envelope.isObject()) return {};
  const Json::Value& status = envelope["errno"];
  if (status.isInt() && status.asInt() != 0) return {};
  const Json::Value& dataValue = envelope["data"];
  if (!dataValue.isString()) return {};
  const std::string data = dataValue.asString();
  if (data.empty()) return {};

  std::vector<unsigned char> cipherText(data.size() / 4 * 3 + 8, 0);
  const int decoded =
      ReferenceBase64Decode(cipherText.data(), data.data(), static_cast<int>(data.size()));
  if (decoded <= 0) return {};
  const std::size_t rounded = (static_cast<std::size_t>(decoded) + 7) & ~std::size_t{7};
  std::memset(cipherText.data() + decoded, 0, rounded - static_cast<std::size_t>(decoded));

  BF_KEY key;
  BF_set_key(&key, static_cast<int>(kConfigKey.size()),
             reinterpret_cast<const unsigned char*>(kConfigKey.data()));
  std::string plain(rounded, '\0');
  auto* out = reinterpret_cast<unsigned char*>(plain.data());
  for (std::size_t i = 0; i < rounded; i += 8) {
    BF_ecb_encrypt(cipherText.data() + i, out + i, &key, BF_DECRYPT);
  }
  plain.resize(static_cast<std::size_t>(decoded));

  Json::Value parsedConfig;
  ParseJson(plain, parsedConfig);
  const Json::Value& config = parsedConfig;
  if (!config.isObject() || !config["appid"].isString()) return {};
  return plain;
}
