// QXSDK2.dll as Microsoft's compiler may build it, with ordinal 6 (no name)
// as __cdecl or, with KV_DECODER_STDCALL, as __stdcall (it returns with
// ret 12). It writes "<convention>[" + text + "]", cut to fit, so a test sees
// which library ran and which text it was given.
#include <stddef.h>

#ifdef KV_DECODER_STDCALL
#define KV_DECODER_CONVENTION __stdcall
constexpr char kMarker[] = "stdcall[";
#else
#define KV_DECODER_CONVENTION __cdecl
constexpr char kMarker[] = "cdecl[";
#endif

namespace {

// Appends `text` to out[0..limit) from `length` on; returns the new length.
int Append(char* out, int length, int limit, const char* text) {
  while (*text != '\0' && length < limit) out[length++] = *text++;
  return length;
}

}  // namespace

// Its contract is known to this library from documentation only, as it is to
// the real one: three arguments, the convention chosen above.
extern "C" int KV_DECODER_CONVENTION DecodeConfig(const char* text, char* out, int outSize) {
  if (outSize <= 0) return 0;
  const int limit = outSize - 1;
  int length = Append(out, 0, limit, kMarker);
  length = Append(out, length, limit, text);
  length = Append(out, length, limit, "]");
  out[length] = '\0';
  return length;
}

extern "C" int __stdcall DllMain(void*, unsigned long, void*) { return 1; }
