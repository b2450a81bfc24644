// CallDecodeConfig must leave the caller's stack pointer where it was,
// whichever convention the routine uses: a __stdcall routine removes its
// own 12 bytes of arguments, a __cdecl one leaves them.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "app/decoder_call.h"

namespace {

int Render(const char* text, char* out, int outSize) {
  std::strncpy(out, text, static_cast<size_t>(outSize) - 1);
  return static_cast<int>(std::strlen(out));
}

extern "C" int __cdecl CdeclRoutine(const char* text, char* out, int outSize) {
  return Render(text, out, outSize);
}

extern "C" int __stdcall StdcallRoutine(const char* text, char* out, int outSize) {
  return Render(text, out, outSize);
}

// %esp just before and just after the call, read in the same frame.
intptr_t StackDriftOfCall(DecodeConfigRoutine routine, char (&out)[16], int& result) {
  intptr_t before = 0;
  intptr_t after = 0;
  asm volatile("movl %%esp, %0" : "=r"(before));
  result = CallDecodeConfig(routine, "text", out, sizeof out);
  asm volatile("movl %%esp, %0" : "=r"(after));
  return after - before;
}

TEST(DecoderCallTest, EitherConventionLeavesTheStackAsItWas) {
  const struct {
    const char* name;
    DecodeConfigRoutine routine;
  } cases[] = {
      {"__cdecl", &CdeclRoutine},
      {"__stdcall", reinterpret_cast<DecodeConfigRoutine>(&StdcallRoutine)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    char out[16] = {};
    int result = 0;
    EXPECT_EQ(StackDriftOfCall(c.routine, out, result), 0);
    EXPECT_EQ(result, 4);
    EXPECT_STREQ(out, "text");
  }
}

}  // namespace
