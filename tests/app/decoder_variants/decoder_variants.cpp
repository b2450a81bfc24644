// QXSDK2.dll variants that show what kvfetch does with the buffer, built once
// per KV_DECODER_VARIANT:
//   1 (echo)  writes "[" + text + "]", cut to fit: proves which text the
//             decoder received (empty after a refused envelope) and that its
//             bytes, line breaks included, reach stdout untouched;
//   2 (fill)  fills all outSize bytes with 'A' and no terminator;
//   3 (overrun) writes KV_DECODER_OVERRUN_BYTES past the end of the buffer,
//             as a faulty decoder would: kvfetch must not survive it.
#include <algorithm>
#include <cstring>
#include <string>

#include "app/decode_config.h"

extern "C" int __cdecl DecodeConfig(const char* text, char* out, int outSize) {
#if KV_DECODER_VARIANT == 1
  const std::string echo = "[" + std::string(text) + "]";
  const size_t length = std::min(echo.size(), static_cast<size_t>(outSize) - 1);
  std::memcpy(out, echo.data(), length);
  out[length] = '\0';
  return static_cast<int>(length);
#elif KV_DECODER_VARIANT == 2
  (void)text;
  std::memset(out, 'A', static_cast<size_t>(outSize));
  return outSize;
#elif KV_DECODER_VARIANT == 3
  (void)text;
  std::memset(out, 'A', static_cast<size_t>(outSize) + KV_DECODER_OVERRUN_BYTES);
  return outSize;
#else
#error "KV_DECODER_VARIANT must be 1 (echo), 2 (fill) or 3 (overrun)"
#endif
}
