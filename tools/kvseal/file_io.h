#pragma once

// Whole-file reads and all-or-nothing writes for kvseal. Paths are UTF-8.

#include <optional>
#include <string>

// The bytes of the file at `path`; on failure nullopt and `error` says why.
std::optional<std::string> ReadWholeFile(const std::string& path, std::string& error);

// Replaces the file at `path` with `bytes` by writing a temporary file beside
// it and renaming that over it, so a failed write never leaves a partial or
// truncated file behind: either the old file or the complete new one. On
// failure the temporary file is removed and `error` says why.
[[nodiscard]] bool WriteFileAtomically(const std::string& path, const std::string& bytes,
                                       std::string& error);
