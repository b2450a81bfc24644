#pragma once

#include <string>
#include <string_view>

// Base64-decodes `data` and deciphers it with Blowfish in ECB mode under
// `key`. On success `out` is replaced by exactly as many bytes as were
// decoded: nothing is stripped, so a sender's filler up to whole blocks stays
// at the end. False, with `out` untouched, for empty or invalid Base64 or an
// empty key. Allocation failure propagates as std::bad_alloc.
[[nodiscard]] bool DecipherPayload(std::string_view data, std::string_view key, std::string& out);
