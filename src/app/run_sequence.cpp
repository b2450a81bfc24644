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

// The decoder's rendering of `text`. A decoder that fills every byte leaves
// no terminator, so the length is bounded by the buffer. The buffer lives
// here alone: a decoder that writes past it is caught by this function's
// stack cookie on return, before anything is written out.
[[gnu::noinline]] std::string Render(const std::string& text) {
  char rendering[kDecodeConfigOutputSize] = {};
  CallDecodeConfig(&DecodeConfig, text.c_str(), rendering, kDecodeConfigOutputSize);
  return std::string(rendering, ::strnlen(rendering, kDecodeConfigOutputSize));
}

}  // namespace

int RunSequence() {
  // The result is not needed here: without a library HttpGet finds no
  // request factory and fails.
  NetLibrary::Instance().Init();

  std::string body;
  if (!HttpGet(kConfigUrl, body)) return kExitFetchFailed;

  // The body is handed on as a C string: bytes after a NUL do not count.
  const std::string rendering = Render(ParseConfigEnvelope(body.c_str()));
  std::cout.write(rendering.data(), static_cast<std::streamsize>(rendering.size()));
  return 0;
}
