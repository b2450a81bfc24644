#include "net/net_exports.h"
#include "refusing_exports.h"
#include "wirelink_task.h"

extern "C" RequestFactory* __cdecl HttpInit() {
  static CWirelinkFactory factory;
  return &factory;
}
