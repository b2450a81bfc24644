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

#include "net/net_library.h"

namespace {

std::string Utf8(const wchar_t* text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
  out.resize(static_cast<size_t>(size - 1));
  return out;
}

template <typename Func>
Func LookUp(HMODULE module, const char* name) {
  return reinterpret_cast<Func>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

std::string Describe(const wchar_t* moduleName) {
  const HMODULE module = ::GetModuleHandleW(moduleName);
  if (!module) return "-";
  const auto variant = LookUp<const char*(__cdecl*)()>(module, "FakeNetVariant");
  const auto initCalls = LookUp<LONG(__cdecl*)()>(module, "FakeNetInitCalls");
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
