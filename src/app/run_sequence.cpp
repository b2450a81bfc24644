#include "app/run_sequence.h"

#include <cstring>
#include <iostream>
#include <string>

#include "app/config_url.h"
#include "app/decoder_call.h"
#include "net/http_get.h"
#include "net/net_library.h"
#include "payload/config_envelope.h"

namespace {

// Writes the buffer's text and nothing else. A decoder that fills every byte
// leaves no terminator, so the length is bounded by the buffer.
void WriteRendering(const char (&buffer)[kDecodeConfigOutputSize]) {
  std::cout.write(buffer, static_cast<std::streamsize>(::strnlen(buffer, kDecodeConfigOutputSize)));
}

}  // namespace

int RunSequence() {
  // The result is not needed here: without a library HttpGet finds no
  // request factory and fails.
  NetLibrary::Instance().Init();

  std::string body;
  if (!HttpGet(kConfigUrl, body)) return kExitFetchFailed;

  // The body is handed on as a C string: bytes after a NUL do not count.
  const std::string text = ParseConfigEnvelope(body.c_str());

  char rendering[kDecodeConfigOutputSize] = {};
  CallDecodeConfig(&DecodeConfig, text.c_str(), rendering, kDecodeConfigOutputSize);
  WriteRendering(rendering);
  return 0;
}
