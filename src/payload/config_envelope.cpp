#include "payload/config_envelope.h"

#include "payload/json_document.h"
#include "payload/payload_decipher.h"

std::string ParseConfigEnvelope(const char* body) {
  if (body == nullptr) return {};
  // A copy up to the first NUL: the parser then reads NUL-terminated storage.
  const std::string text(body);

  // The parse result is not consulted on purpose: a body cut off after its
  // "data" member still carries what was read, and the checks below decide.
  JsonDocument envelope;
  static_cast<void>(envelope.Parse(text));
  if (!envelope.IsObjectAt("")) return {};
  // Only an integral, in-range status other than 0 refuses; anything else in
  // "errno" (strings, fractions, huge numbers) reads as the default 0.
  if (envelope.GetIntAt("errno", 0) != 0) return {};
  if (!envelope.IsStringAt("data")) return {};

  std::string plain;
  if (!DecipherPayload(envelope.GetStringAt("data", ""), kConfigKey, plain) || plain.empty()) {
    return {};
  }

  const JsonDocument config(plain);
  if (!config.IsObjectAt("") || !config.IsStringAt("appid")) return {};
  return plain;
}
