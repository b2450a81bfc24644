#pragma once

// The Wirelink stand-in loaded straight into a test process, for tests of
// the stand-in itself. A target that includes this defines
// KV_WIRELINK_UNSIGNED, the stand-in's path in the build tree.

#include <windows.h>

#include <string>

#include "common/test_support.h"
#include "net/net_exports.h"
#include "win/get_export.h"

namespace kvtest {

inline RequestFactory* StandInFactory() {
  // Loaded once and kept, as kvfetch keeps its network library.
  static HMODULE module = ::LoadLibraryW(FromBuildPath(KV_WIRELINK_UNSIGNED).wstring().c_str());
  if (module == nullptr) return nullptr;
  const auto httpInit = KV_GET_EXPORT(module, HttpInit);
  return httpInit ? httpInit() : nullptr;
}

// The service's path on the loopback server at `port`.
inline std::wstring ServiceUrlFor(int port) {
  return L"http://127.0.0.1:" + std::to_wstring(port) + L"/live/vip/getKvConfig";
}

}  // namespace kvtest
