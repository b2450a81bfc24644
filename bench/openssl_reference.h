#pragma once

// The same payload work done with OpenSSL's libcrypto and plain jsoncpp: the
// yardstick the benchmarks divide our times by.

#include <cstddef>
#include <string>

// EVP_DecodeBlock over `len` characters into `dest` (len / 4 * 3 bytes);
// the decoded length with padding taken off, or -1.
int ReferenceBase64Decode(unsigned char* dest, const char* src, int len);

// ParseConfigEnvelope's steps with CharReaderBuilder parses, EVP_DecodeBlock,
// BF_set_key and BF_ecb_encrypt: the configuration text, or empty.
std::string ReferenceParseConfigEnvelope(const char* body);
