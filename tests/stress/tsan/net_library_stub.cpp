// The holder as HttpGet sees it in the native stress build: always empty.
// The stress test passes its own factory through the internal overload, so
// nothing here is ever loaded.
#include "net/net_library.h"

NetLibrary& NetLibrary::Instance() {
  static NetLibrary* instance = new NetLibrary;
  return *instance;
}
