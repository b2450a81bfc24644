#include "hardening/hardened_start.h"

#include <windows.h>

#include "win/get_export.h"

namespace {

void TerminateOnHeapCorruption() {
  // Honoured from XP SP3 and Vista; earlier systems refuse the class.
  ::HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);
}

void EnableDep() {
  // Looked up, since XP before SP3 lacks it and would refuse to start a
  // program that imports it. PROCESS_DEP_ENABLE alone keeps the emulation of
  // ATL thunks, which the outside libraries may still rely on. On Vista and
  // later the image's NX_COMPAT has already done this.
  const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  if (kernel32 == nullptr) return;
  const auto setPolicy = KV_GET_EXPORT(kernel32, SetProcessDEPPolicy);
  if (setPolicy != nullptr) setPolicy(PROCESS_DEP_ENABLE);
}

}  // namespace

void HardenProcessStart() {
  TerminateOnHeapCorruption();
  EnableDep();
}
