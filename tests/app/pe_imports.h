#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// One entry of a PE image's import directory, read from the file on disk
// (the image is not loaded, so nothing it imports has to be present).
struct ImportedFunction {
  bool byOrdinal = false;
  uint16_t ordinal = 0;  // when byOrdinal
  std::string name;      // otherwise
};

struct ImportedDll {
  std::string name;
  std::vector<ImportedFunction> functions;
};

// The import table of a 32-bit PE file, or nothing when the file is not one.
std::optional<std::vector<ImportedDll>> ReadImports32(const std::filesystem::path& path);
