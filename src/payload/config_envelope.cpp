#include "payload/config_envelope.h"

#include <utility>

#include "payload/json_document.h"
#include "payload/payload_decipher.h"

namespace {

EnvelopeVerdict Refused(EnvelopeCheck check, int errnoValue = 0) {
  return EnvelopeVerdict{check, errnoValue, {}};
}

}  // namespace

EnvelopeVerdict InspectConfigEnvelope(const char* body, std::string_view key) {
  if (body == nullptr) return Refused(EnvelopeCheck::kNotJsonObject);
  // A copy up to the first NUL: the parser then reads NUL-terminated storage.
  const std::string text(body);

  // The parse result is not consulted on purpose: a body cut off after its
  // "data" member still carries what was read, and the checks below decide.
  JsonDocument envelope;
  static_cast<void>(envelope.Parse(text));
  if (!envelope.IsObjectAt("")) return Refused(EnvelopeCheck::kNotJsonObject);
  // Only an integral, in-range status other than 0 refuses; anything else in
  // "errno" (strings, fractions, huge numbers) reads as the default 0.
  const int errnoValue = envelope.GetIntAt("errno", 0);
  if (errnoValue != 0) return Refused(EnvelopeCheck::kErrnoNonZero, errnoValue);
  if (!envelope.IsStringAt("data")) return Refused(EnvelopeCheck::kDataNotString);

  const std::string data = envelope.GetStringAt("data", "");
  std::string plain;
  if (!DecipherPayload(data, key, plain)) {
    // Told apart only once refused, so the accepted path does no extra work.
    return Refused(data.empty() ? EnvelopeCheck::kDataEmpty : EnvelopeCheck::kDataUndecipherable);
  }
  if (plain.empty()) return Refused(EnvelopeCheck::kDataUndecipherable);

  const JsonDocument config(plain);
  if (!config.IsObjectAt("")) return Refused(EnvelopeCheck::kPlainNotJsonObject);
  if (!config.IsStringAt("appid")) return Refused(EnvelopeCheck::kAppidNotString);
  return EnvelopeVerdict{EnvelopeCheck::kAccepted, 0, std::move(plain)};
}

std::string ParseConfigEnvelope(const char* body) { return InspectConfigEnvelope(body).text; }
