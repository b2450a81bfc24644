// ParseConfigEnvelope two ways: the input as a response body, and the input
// as a configuration sealed into a well-formed envelope, so that fuzzed JSON
// also reaches the check of the deciphered text.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "kvseal/seal_core.h"
#include "payload/config_envelope.h"
#include "payload/json_document.h"

namespace {

void CheckBody(const std::string& body) {
  const std::string config = ParseConfigEnvelope(body.c_str());
  if (config.empty()) return;
  const JsonDocument document(config);
  if (!document.IsStringAt("appid")) std::abort();
}

void CheckSealed(const std::string& config) {
  const std::string result = ParseConfigEnvelope(SealConfigEnvelope(config).c_str());
  if (result.empty()) return;
  const std::size_t filler = 8 - config.size() % 8;
  if (result != config + std::string(filler, static_cast<char>(filler))) std::abort();
  const JsonDocument document(config + std::string(filler, static_cast<char>(filler)));
  if (!document.IsObjectAt("") || !document.IsStringAt("appid")) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  CheckBody(input);
  CheckSealed(input);
  return 0;
}
