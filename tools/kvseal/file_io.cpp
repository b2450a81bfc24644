#include "kvseal/file_io.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <system_error>
#include <utility>

#include "kvseal/file_system.h"
#include "kvseal/mib_text.h"

namespace fs = std::filesystem;

namespace {

struct StdioFileDeletor {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using CUniqueStdioFile = std::unique_ptr<std::FILE, StdioFileDeletor>;

std::string ErrnoText(int error = errno) { return std::generic_category().message(error); }

// The temporary name is OUT's name plus ".xxxxxx.tmp". A long name gives up
// its last 11 characters (code points) to the suffix instead, so the
// temporary name is then no longer than OUT's, in bytes and in UTF-16 units.
constexpr std::size_t kSuffixLength = 11;
constexpr std::size_t kLongName = 200;

fs::path TemporaryBeside(const fs::path& target) {
  std::string name = target.filename().u8string();
  if (name.size() > kLongName) {
    for (std::size_t dropped = 0; dropped < kSuffixLength && !name.empty(); ++dropped) {
      // Back to the lead byte of the last character.
      while (name.size() > 1 && (static_cast<unsigned char>(name.back()) & 0xC0) == 0x80) {
        name.pop_back();
      }
      name.pop_back();
    }
  }
  std::random_device random;
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, ".%06x.tmp", static_cast<unsigned>(random() & 0xFFFFFF));
  return target.parent_path() / fs::u8path(name + suffix);
}

// Follows symbolic links to the file they end at (which need not exist).
bool FollowLinks(fs::path& path, std::string& reason) {
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code code;
    if (!fs::is_symlink(fs::symlink_status(path, code))) return true;
    const fs::path link = fs::read_symlink(path, code);
    if (code) {
      reason = code.message();
      return false;
    }
    path = link.is_absolute() ? link : path.parent_path() / link;
  }
  reason = ErrnoText(ELOOP);
  return false;
}

// Writes all of `bytes` to the disk and closes `file`, however that ends.
bool WriteDurably(COutputFile file, const std::string& bytes, std::string& reason) {
  return file.WriteAll(bytes, reason) && file.Close(true, reason);
}

// Writes a temporary file beside `target` and gives it `target`'s name.
// `replacing`: `target` is an existing regular file, not a new one.
bool ReplaceWhole(const fs::path& target, bool replacing, const std::string& bytes,
                  std::string& reason) {
  fs::path temporary;
  COutputFile file;
  bool nameTaken = true;
  for (int attempt = 0; attempt < 16 && nameTaken; ++attempt) {
    temporary = TemporaryBeside(target);
    file =
        COutputFile::CreateExclusive(temporary, replacing ? &target : nullptr, nameTaken, reason);
  }
  if (!file) return false;
  // Closed in a statement of its own: Windows neither renames nor removes an
  // open file.
  const bool written = WriteDurably(std::move(file), bytes, reason);
  if (written && MoveIntoPlace(temporary, target, replacing, reason)) return true;
  std::error_code ignored;
  fs::remove(temporary, ignored);
  return false;
}

// Devices, FIFOs and sockets: no rename, no truncation, no creation.
bool WriteInPlace(const fs::path& target, const std::string& bytes, std::string& reason) {
  COutputFile file = COutputFile::OpenExisting(target, reason);
  return file && file.WriteAll(bytes, reason) && file.Close(false, reason);
}

// Replacing a regular file with more than one hard link would cut the
// others off.
bool HasNoOtherNames(const fs::path& target, std::string& reason) {
  std::uintmax_t links = 0;
  if (!CountHardLinks(target, links, reason)) return false;
  if (links <= 1) return true;
  reason =
      "it has " + std::to_string(links) + " hard links, and replacing it would cut the others off";
  return false;
}

bool WriteTo(fs::path target, const std::string& bytes, std::string& reason) {
  if (!FollowLinks(target, reason)) return false;
  std::error_code code;
  const fs::file_status status = fs::status(target, code);
  if (code == std::errc::no_such_file_or_directory) {
    return ReplaceWhole(target, /*replacing=*/false, bytes, reason);
  }
  if (code) {
    reason = code.message();
    return false;
  }
  if (fs::is_directory(status)) {
    reason = ErrnoText(EISDIR);
    return false;
  }
  if (!fs::is_regular_file(status)) return WriteInPlace(target, bytes, reason);
  return HasNoOtherNames(target, reason) && ReplaceWhole(target, /*replacing=*/true, bytes, reason);
}

InputBytes Failed(const std::string& name, const std::string& reason) {
  return InputBytes{InputBytes::kFailed, {}, "cannot read " + name + ": " + reason};
}

InputBytes TooLarge(const std::string& name, std::size_t limit) {
  return InputBytes{InputBytes::kTooLarge,
                    {},
                    name + " is larger than " + MibText(limit) + ", the most kvseal reads"};
}

}  // namespace

InputBytes ReadWholeFile(const std::string& path, std::size_t limit) {
  const std::string name = "'" + path + "'";
  const fs::path source = fs::u8path(path);
  std::error_code code;
  // A directory opens on some systems and fails only when read, or not at all.
  if (fs::is_directory(source, code)) return Failed(name, ErrnoText(EISDIR));
  const CUniqueStdioFile file(OpenForReading(source));
  if (!file) return Failed(name, ErrnoText());
  InputBytes input;
  char chunk[65536];
  std::size_t count = 0;
  while ((count = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
    if (count > limit - input.bytes.size()) return TooLarge(name, limit);
    input.bytes.append(chunk, count);
  }
  if (std::ferror(file.get())) return Failed(name, ErrnoText());
  input.status = InputBytes::kRead;
  return input;
}

InputBytes ReadWholeStream(std::istream& stream, std::size_t limit) {
  const std::string name = "standard input";
  InputBytes input;
  char chunk[65536];
  try {
    std::streamsize count = 0;
    while ((count = stream.rdbuf()->sgetn(chunk, sizeof chunk)) > 0) {
      if (static_cast<std::size_t>(count) > limit - input.bytes.size()) {
        return TooLarge(name, limit);
      }
      input.bytes.append(chunk, static_cast<std::size_t>(count));
    }
  } catch (const std::system_error& error) {
    return Failed(name, error.code().message());
  }
  if (stream.bad()) return Failed(name, "read error");
  input.status = InputBytes::kRead;
  return input;
}

bool WriteOutputFile(const std::string& path, const std::string& bytes, std::string& error) {
  std::string reason;
  if (WriteTo(fs::u8path(path), bytes, reason)) return true;
  error = "cannot write '" + path + "': " + reason;
  return false;
}
