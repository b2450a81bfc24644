#pragma once

#include <cstdint>
#include <string_view>

// Base64DecodeRaw with the checks a caller with arbitrary text needs; the
// run itself decodes straight into its cipher buffer instead.

// Decodes `text` into `out` (Base64DecodeBufferSize(text.size()) bytes) and
// stores the decoded length in `outLen`. On failure neither is touched.
[[nodiscard]] bool Base64Decode(unsigned char* out, std::int32_t& outLen, std::string_view text);
