#pragma once

#include <string>
#include <string_view>

// The key the configuration service enciphers its payload with: these 36
// characters as bytes, no terminator.
inline constexpr std::string_view kConfigKey = "5D3F0C19-8B2E-4A67-9C14-E07B52A9D3F6";

// Checks the service's response `body` (read up to its first NUL; null counts
// as empty), deciphers its "data" member and returns the configuration text:
// every deciphered byte, filler after the JSON included. Returns an empty
// string when the envelope, the payload or the configuration is refused.
// Never raises, except std::bad_alloc.
std::string ParseConfigEnvelope(const char* body);
