#pragma once

#include <cstddef>

// The publishers whose signed network library may be loaded. Each entry is
// the simple display name on the signer's end certificate, compared exactly.
// The table is constant and lives for the whole process; no copy is needed.
struct TrustedPublisherList {
  const wchar_t* const* names;
  std::size_t count;
};

TrustedPublisherList TrustedPublishers();
