#include "kvseal/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

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

#ifdef _WIN32
int OpenForWriting(const fs::path& path, int flags, int mode) {
  return ::_wopen(path.c_str(), flags | _O_BINARY, mode);
}
constexpr int kCreateFlags = _O_WRONLY | _O_CREAT | _O_EXCL;
constexpr int kNewFileMode = _S_IREAD | _S_IWRITE;
int WriteSome(int fd, const char* data, std::size_t size) {
  return ::_write(fd, data, static_cast<unsigned>(size < 0x40000000 ? size : 0x40000000));
}
int CloseFile(int fd) { return ::_close(fd); }
#else
int OpenForWriting(const fs::path& path, int flags, int mode) {
  return ::open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY, mode);
}
// Exclusive and not through a link someone planted under the name.
constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW;
constexpr int kNewFileMode = 0666;  // less the umask: the default for new files
ssize_t WriteSome(int fd, const char* data, std::size_t size) { return ::write(fd, data, size); }
int CloseFile(int fd) { return ::close(fd); }
#endif

// Writes everything and closes `fd`; false with errno's reason on failure.
bool WriteAndClose(int fd, const std::string& bytes, std::string& reason, bool sync) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const auto count = WriteSome(fd, bytes.data() + written, bytes.size() - written);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      reason = count < 0 ? ErrnoText() : ErrnoText(ENOSPC);
      CloseFile(fd);
      return false;
    }
    written += static_cast<std::size_t>(count);
  }
#ifndef _WIN32
  // The new bytes are on disk before the rename makes them the file.
  if (sync && ::fsync(fd) != 0) {
    reason = ErrnoText();
    CloseFile(fd);
    return false;
  }
#else
  static_cast<void>(sync);
#endif
  // close reports a write still pending, as on a full disk or NFS.
  if (CloseFile(fd) != 0) {
    reason = ErrnoText();
    return false;
  }
  return true;
}

#ifndef _WIN32
// Follows symbolic links to the file they end at (which need not exist).
bool FollowLinks(fs::path& path, std::string& reason) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return true;
    std::error_code code;
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
#endif

// Gives the temporary file the replaced file's owner, group and mode: the
// owner only where the process may (as root), the group where it may.
void CopyOwnerAndMode(int fd, const struct stat* existing) {
#ifndef _WIN32
  if (existing == nullptr) return;
  if (::fchown(fd, existing->st_uid, existing->st_gid) != 0) {
    static_cast<void>(::fchown(fd, static_cast<uid_t>(-1), existing->st_gid));
  }
  // After chown, which clears set-id bits; exactly the old mode, whatever
  // the umask took away at creation.
  ::fchmod(fd, existing->st_mode & 07777);
#else
  static_cast<void>(fd);
  static_cast<void>(existing);
#endif
}

// `existing`: the regular file being replaced, or null for a new file.
bool ReplaceAtomically(const fs::path& target, const struct stat* existing,
                       const std::string& bytes, std::string& reason) {
  // Created with no more than the final mode from the start.
  const int mode = existing ? static_cast<int>(existing->st_mode & 0777) : kNewFileMode;
  fs::path temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    temporary = TemporaryBeside(target);
    fd = OpenForWriting(temporary, kCreateFlags, mode);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    reason = ErrnoText();
    return false;
  }
  CopyOwnerAndMode(fd, existing);
  std::error_code code;
  if (WriteAndClose(fd, bytes, reason, true)) {
    fs::rename(temporary, target, code);
    if (!code) return true;
    reason = code.message();
  }
  fs::remove(temporary, code);
  return false;
}

#ifndef _WIN32
// Devices, FIFOs and sockets: no rename, no truncation, no creation.
bool WriteInPlace(const fs::path& target, const std::string& bytes, std::string& reason) {
  const int fd = OpenForWriting(target, O_WRONLY, 0);
  if (fd < 0) {
    reason = ErrnoText();
    return false;
  }
  return WriteAndClose(fd, bytes, reason, false);
}
#endif

bool WriteTo(fs::path target, const std::string& bytes, std::string& reason) {
#ifdef _WIN32
  std::error_code code;
  if (fs::is_directory(target, code)) {
    reason = ErrnoText(EISDIR);
    return false;
  }
  return ReplaceAtomically(target, nullptr, bytes, reason);
#else
  if (!FollowLinks(target, reason)) return false;
  struct stat info;
  if (::stat(target.c_str(), &info) != 0) {
    if (errno == ENOENT) return ReplaceAtomically(target, nullptr, bytes, reason);
    reason = ErrnoText();
    return false;
  }
  if (S_ISDIR(info.st_mode)) {
    reason = ErrnoText(EISDIR);
    return false;
  }
  if (!S_ISREG(info.st_mode)) return WriteInPlace(target, bytes, reason);
  if (info.st_nlink > 1) {
    reason = "it has " + std::to_string(info.st_nlink) +
             " hard links, and replacing it would cut the others off";
    return false;
  }
  return ReplaceAtomically(target, &info, bytes, reason);
#endif
}

InputBytes Failed(const std::string& name, const std::string& reason) {
  return InputBytes{InputBytes::kFailed, {}, "cannot read " + name + ": " + reason};
}

InputBytes TooLarge(const std::string& name, std::size_t limit) {
  return InputBytes{InputBytes::kTooLarge,
                    {},
                    name + " is larger than " + std::to_string(limit / (1024 * 1024)) +
                        " MiB, the most kvseal reads"};
}

}  // namespace

InputBytes ReadWholeFile(const std::string& path, std::size_t limit) {
  const std::string name = "'" + path + "'";
  const fs::path source = fs::u8path(path);
  std::error_code code;
  // A directory opens on some systems and fails only when read, or not at all.
  if (fs::is_directory(source, code)) return Failed(name, ErrnoText(EISDIR));
#ifdef _WIN32
  // The C runtime's narrow open takes the ANSI code page on Windows.
  const CUniqueStdioFile file(::_wfopen(source.c_str(), L"rb"));
#else
  const CUniqueStdioFile file(std::fopen(source.c_str(), "rb"));
#endif
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
