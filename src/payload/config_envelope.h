#pragma once

#include <string>
#include <string_view>

// The key the configuration service enciphers its payload with: these 36
// characters as bytes, no terminator.
inline constexpr std::string_view kConfigKey = "5D3F0C19-8B2E-4A67-9C14-E07B52A9D3F6";

// Which check decided about an envelope, in the order they run. Everything
// but kAccepted means the configuration is refused.
enum class EnvelopeCheck {
  kAccepted,
  kNotJsonObject,       // the body is not JSON, or its root is not an object
  kErrnoNonZero,        // "errno" is an in-range integer other than 0
  kDataNotString,       // "data" is missing or not a string
  kDataEmpty,           // "data" is the empty string
  kDataUndecipherable,  // "data" is not strict Base64, or deciphers to nothing
  kPlainNotJsonObject,  // the deciphered text is not a JSON object
  kAppidNotString,      // its "appid" is missing or not a string
};

struct EnvelopeVerdict {
  EnvelopeCheck check = EnvelopeCheck::kNotJsonObject;
  // The status read from "errno" (0 when absent or not an in-range integer);
  // meaningful from the errno check on.
  int errnoValue = 0;
  // The configuration text when accepted, every deciphered byte included;
  // empty otherwise.
  std::string text;
};

// Runs kvfetch's checks on the service's response `body` (read up to its
// first NUL; null counts as empty), deciphering "data" under `key`, and says
// which one refused it. Tools that explain a refusal use this so that they
// can never disagree with kvfetch. Never raises, except std::bad_alloc.
EnvelopeVerdict InspectConfigEnvelope(const char* body, std::string_view key = kConfigKey);

// Checks the service's response `body` (read up to its first NUL; null counts
// as empty), deciphers its "data" member and returns the configuration text:
// every deciphered byte, filler after the JSON included. Returns an empty
// string when the envelope, the payload or the configuration is refused.
// Never raises, except std::bad_alloc.
std::string ParseConfigEnvelope(const char* body);
