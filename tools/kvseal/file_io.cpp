#include "kvseal/file_io.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <system_error>

namespace fs = std::filesystem;

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using CUniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// The C runtime's narrow open takes the ANSI code page on Windows, so names
// outside it need the wide call.
CUniqueFile OpenFile(const fs::path& path, bool forWriting) {
#ifdef _WIN32
  return CUniqueFile(::_wfopen(path.c_str(), forWriting ? L"wb" : L"rb"));
#else
  return CUniqueFile(std::fopen(path.c_str(), forWriting ? "wb" : "rb"));
#endif
}

std::string ErrnoText() { return std::generic_category().message(errno); }

// Beside the target, so the rename stays within one volume; the random part
// keeps two runs writing the same file from sharing a temporary.
fs::path TemporaryBeside(const fs::path& target) {
  std::random_device random;
  const unsigned suffix = random() & 0xFFFFFF;
  char text[16];
  std::snprintf(text, sizeof text, ".%06x.tmp", suffix);
  fs::path temporary = target;
  temporary += text;
  return temporary;
}

bool WriteAll(const fs::path& path, const std::string& bytes, std::string& error) {
  CUniqueFile file = OpenFile(path, true);
  if (!file) {
    error = ErrnoText();
    return false;
  }
  if (std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size() ||
      std::fflush(file.get()) != 0) {
    error = ErrnoText();
    return false;
  }
  // fclose reports a write that the flush left pending, as on a full disk.
  if (std::fclose(file.release()) != 0) {
    error = ErrnoText();
    return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> ReadWholeFile(const std::string& path, std::string& error) {
  const CUniqueFile file = OpenFile(fs::u8path(path), false);
  if (!file) {
    error = "cannot read '" + path + "': " + ErrnoText();
    return std::nullopt;
  }
  std::string bytes;
  char chunk[16384];
  std::size_t count = 0;
  while ((count = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) bytes.append(chunk, count);
  // A directory opens on some systems and only fails here.
  if (std::ferror(file.get())) {
    error = "cannot read '" + path + "': " + ErrnoText();
    return std::nullopt;
  }
  return bytes;
}

bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string& error) {
  const fs::path target = fs::u8path(path);
  const fs::path temporary = TemporaryBeside(target);
  std::string reason;
  std::error_code code;
  if (WriteAll(temporary, bytes, reason)) {
    fs::rename(temporary, target, code);
    if (!code) return true;
    reason = code.message();
  }
  fs::remove(temporary, code);
  error = "cannot write '" + path + "': " + reason;
  return false;
}
