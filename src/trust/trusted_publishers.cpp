#include "trust/trusted_publishers.h"

TrustedPublisherList TrustedPublishers() {
  static constexpr const wchar_t* kNames[] = {
#define KV_TRUSTED_PUBLISHER(name) name,
#include "trust/trusted_publishers.inc"
#undef KV_TRUSTED_PUBLISHER
  };
  return {kNames, sizeof(kNames) / sizeof(kNames[0])};
}
