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

// Writes `bytes` to the output `path`, never leaving it half-written:
// - a regular file (also one reached through symbolic links, which are
//   followed) or a new file is replaced by writing a temporary file beside it
//   and renaming that over it; the replacement keeps the old file's mode and,
//   where the process may set them, its owner and group; a new file gets the
//   default mode for new files;
// - a device, FIFO or socket is written in place, without a rename;
// - a directory, or a regular file with more than one hard link (a rename
//   would cut the other links off), is refused.
// On failure any temporary file is removed and `error` says why.
[[nodiscard]] bool WriteOutputFile(const std::string& path, const std::string& bytes,
                                   std::string& error);
