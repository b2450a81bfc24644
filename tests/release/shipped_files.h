#pragma once

// The files of the release tree, as the including target defines them
// (KV_RELEASE_DIR: the tree's root, a Unix path).

#include <string>
#include <vector>

namespace kvtest {

struct ShippedFile {
  const char* relative;  // below the release tree's root
  bool program;          // an exe: manifested and signed
};

inline const std::vector<ShippedFile>& ShippedFiles() {
  static const std::vector<ShippedFile> files = {
      {"app/bin/kvfetch.exe", true}, {"app/bin/kvfetch-doctor.exe", true},
      {"tools/kvseal.exe", true},    {"app/bin/QXSDK2.dll", false},
      {"Wirelink.dll", false},
  };
  return files;
}

inline std::string ShippedPath(const ShippedFile& file) {
  return std::string(KV_RELEASE_DIR) + "/" + file.relative;
}

}  // namespace kvtest
