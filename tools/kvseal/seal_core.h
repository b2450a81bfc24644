#pragma once

// The publishing side of the configuration envelope: what the service does
// to a configuration before kvfetch receives it. Used by the kvseal command
// and by tests that need envelopes.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "payload/config_envelope.h"

// How the plaintext is filled up to whole 8-byte blocks before enciphering.
enum class SealPadding {
  kPkcs5,  // 1 to 8 bytes, each holding the count
  kZero,   // 0 to 7 zero bytes
  kNone,   // the plaintext must already fill whole blocks
};

// `plain` filled up to whole blocks as `padding` says; nothing when, with
// kNone, it does not fill whole blocks already.
std::optional<std::string> PadPlaintext(std::string_view plain, SealPadding padding);

// How long PadPlaintext makes `length` bytes; with kNone, the whole blocks
// they take even where it refuses them.
std::size_t PaddedLength(std::size_t length, SealPadding padding);

// `text` without the filler a sealer adds: valid PKCS#5 padding, or else up
// to 7 trailing zero bytes. Other text comes back unchanged.
std::string StripFiller(std::string text);

// Standard Base64 (RFC 4648, section 4) with "=" padding.
std::string Base64Encode(std::string_view bytes);

// Pads `plain` and enciphers it with Blowfish in ECB mode under `key`.
// Empty when the key is empty or, with kNone, the plaintext is not a whole
// number of blocks.
std::optional<std::string> EncipherPayload(std::string_view plain, std::string_view key,
                                           SealPadding padding);

// {"errno":0,"data":"<Base64 of the enciphered configText>"}, or an empty
// string when EncipherPayload refuses.
std::string SealConfigEnvelope(std::string_view configText, std::string_view key = kConfigKey,
                               SealPadding padding = SealPadding::kPkcs5);
