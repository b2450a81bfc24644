// kvseal's file calls on POSIX systems.

#include "kvseal/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace {

std::string ErrnoText(int error = errno) { return std::generic_category().message(error); }

}  // namespace

struct COutputFile::Native {
  explicit Native(int descriptor) : fd(descriptor) {}
  ~Native() {
    if (fd >= 0) ::close(fd);
  }
  Native(const Native&) = delete;
  Native& operator=(const Native&) = delete;

  int fd;
};

void COutputFile::NativeDeleter::operator()(Native* native) const { delete native; }

COutputFile COutputFile::CreateExclusive(const fs::path& path, const fs::path* replacing,
                                         bool& nameTaken, std::string& reason) {
  nameTaken = false;
  struct stat existing {};
  if (replacing != nullptr && ::stat(replacing->c_str(), &existing) != 0) {
    reason = ErrnoText();
    return {};
  }
  // Created with no more than the final mode from the start; 0666 less the
  // umask is the default for new files.
  const mode_t mode = replacing != nullptr ? existing.st_mode & 0777 : 0666;
  // Not through a link someone planted under the name.
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, mode);
  if (fd < 0) {
    nameTaken = errno == EEXIST;
    reason = ErrnoText();
    return {};
  }
  if (replacing != nullptr) {
    // The owner only where the process may (as root), the group where it may.
    // (With _FORTIFY_SOURCE glibc marks fchown warn_unused_result, which a
    // cast to void does not silence.)
    if (::fchown(fd, existing.st_uid, existing.st_gid) != 0 &&
        ::fchown(fd, static_cast<uid_t>(-1), existing.st_gid) != 0) {
      // Neither: the file keeps this process's owner and group.
    }
    // After chown, which clears set-id bits; exactly the old mode, whatever
    // the umask took away at creation.
    ::fchmod(fd, existing.st_mode & 07777);
  }
  return COutputFile(NativePtr(new Native(fd)));
}

COutputFile COutputFile::OpenExisting(const fs::path& path, std::string& reason) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    reason = ErrnoText();
    return {};
  }
  return COutputFile(NativePtr(new Native(fd)));
}

bool COutputFile::WriteAll(const std::string& bytes, std::string& reason) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t count = ::write(m_native->fd, bytes.data() + written, bytes.size() - written);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      reason = count < 0 ? ErrnoText() : ErrnoText(ENOSPC);
      return false;
    }
    written += static_cast<std::size_t>(count);
  }
  return true;
}

bool COutputFile::Close(bool toDisk, std::string& reason) {
  const NativePtr native = std::move(m_native);
  if (toDisk && ::fsync(native->fd) != 0) {
    reason = ErrnoText();
    return false;
  }
  if (::close(std::exchange(native->fd, -1)) != 0) {
    reason = ErrnoText();
    return false;
  }
  return true;
}

bool MoveIntoPlace(const fs::path& temporary, const fs::path& target, bool /*targetExists*/,
                   std::string& reason) {
  std::error_code code;
  fs::rename(temporary, target, code);
  if (code) reason = code.message();
  return !code;
}

bool CountHardLinks(const fs::path& path, std::uintmax_t& links, std::string& reason) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) {
    reason = ErrnoText();
    return false;
  }
  links = info.st_nlink;
  return true;
}

std::FILE* OpenForReading(const fs::path& path) { return std::fopen(path.c_str(), "rb"); }

void UseBinaryStandardStreams() {}

long ReadStandardInput(char* buffer, std::size_t size) { return ::read(0, buffer, size); }
