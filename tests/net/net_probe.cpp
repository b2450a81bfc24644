// Runs the loader the way the program does and prints what it found, one
// "key=value" per line:
//   init, again   results of the first and a second NetLibrary::Init
//   factory       1 when the holder has a request factory
//   Wirelink, Wirecore
//                 "-" when no module of that name is loaded, otherwise
//                 "<variant>|<init calls>|<full path>"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "fake_net_exports.h"
#include "net/net_library.h"
#include "win/get_export.h"
#include "support/utf8.h"

namespace {

std::string Describe(const wchar_t* moduleName) {
  const HMODULE module = ::GetModuleHandleW(moduleName);
  if (!module) return "-";
  const auto variant = KV_GET_EXPORT(module, FakeNetVariant);
  const auto initCalls = KV_GET_EXPORT(module, FakeNetInitCalls);
  // Long enough for the over-long trees the tests build.
  wchar_t path[4096] = {};
  ::GetModuleFileNameW(module, path, 4095);
  return std::string(variant ? variant() : "?") + "|" +
         std::to_string(initCalls ? initCalls() : -1) + "|" + Utf8(path);
}

}  // namespace

int main() {
  // Byte-exact lines: the tests compare them whole.
  _setmode(_fileno(stdout), _O_BINARY);
  NetLibrary& library = NetLibrary::Instance();
  const bool init = library.Init();
  const bool again = library.Init();
  std::printf("init=%d\nagain=%d\nfactory=%d\nWirelink=%s\nWirecore=%s\n", init ? 1 : 0,
              again ? 1 : 0, library.Factory() ? 1 : 0, Describe(L"Wirelink.dll").c_str(),
              Describe(L"Wirecore.dll").c_str());
  return 0;
}
