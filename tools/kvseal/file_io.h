#pragma once

// Whole-file reads and all-or-nothing writes for kvseal. Paths are UTF-8.

#include <cstddef>
#include <istream>
#include <string>

// What reading one input came to.
struct InputBytes {
  enum Status { kRead, kTooLarge, kFailed } status = kFailed;
  std::string bytes;  // when kRead
  std::string error;  // one line, when not kRead
};

// The bytes of the file at `path`, or of `stream`, read up to `limit` bytes:
// one byte more ends the read as kTooLarge. A directory, a closed stream or
// any read error is kFailed, with the system's reason. `stream` reports read
// errors by raising std::system_error from its buffer, or by its bad bit.
InputBytes ReadWholeFile(const std::string& path, std::size_t limit);
InputBytes ReadWholeStream(std::istream& stream, std::size_t limit);

// Writes `bytes` to the output `path`, never leaving it half-written. The
// same steps on every system:
// - symbolic links are followed to the file they end at, where
//   std::filesystem sees them (MinGW's sees none on Windows);
// - a directory, or a regular file with more than one hard link (replacing
//   it would cut the other links off), is refused;
// - a device, FIFO or socket is written in place, without a rename;
// - a regular file or a new file is replaced by a temporary file written
//   beside it, flushed to disk, then given its name. A new file gets the
//   system's defaults for new files. A replaced file keeps, on POSIX, its
//   mode and, where the process may set them, its owner and group; on
//   Windows its ACL and attributes (ReplaceFileW), and a read-only file is
//   refused, as Windows refuses to replace one.
// On failure any temporary file is removed and `error` says why, in the
// system's words.
[[nodiscard]] bool WriteOutputFile(const std::string& path, const std::string& bytes,
                                   std::string& error);
