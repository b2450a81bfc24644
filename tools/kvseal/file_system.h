#pragma once

// The calls under kvseal's file I/O that differ per system, one
// implementation each in file_system_posix.cpp and file_system_windows.cpp.
// file_io.cpp takes every decision; these only carry one out. A `reason` is
// the system's own one-line text for what failed.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>

// A file open for writing; dropping it closes it without flushing.
class COutputFile {
 public:
  // Creates `path`, which must not exist: a name already taken, even by a
  // link someone planted there, fails with `nameTaken` set. The file stands
  // in for `replacing`, the regular file it is to replace (null for a new
  // file), and starts with what the system keeps of it across a replacement
  // that MoveIntoPlace does not carry over itself: on POSIX its mode, then
  // owner and group where the process may set them; on Windows its
  // attributes.
  static COutputFile CreateExclusive(const std::filesystem::path& path,
                                     const std::filesystem::path* replacing, bool& nameTaken,
                                     std::string& reason);
  // An existing device, FIFO or socket, neither created nor truncated.
  static COutputFile OpenExisting(const std::filesystem::path& path, std::string& reason);

  COutputFile() = default;
  COutputFile(COutputFile&& other) noexcept = default;
  COutputFile& operator=(COutputFile&& other) noexcept = default;
  ~COutputFile() = default;

  explicit operator bool() const { return m_native != nullptr; }

  [[nodiscard]] bool WriteAll(const std::string& bytes, std::string& reason);
  // Puts the bytes on disk first when `toDisk`. Closing can report a write
  // still pending, as on a full disk or NFS.
  [[nodiscard]] bool Close(bool toDisk, std::string& reason);

 private:
  // Each system's handle; its deleter is defined beside it, so this class
  // needs no complete type.
  struct Native;
  struct NativeDeleter {
    void operator()(Native* native) const;
  };
  using NativePtr = std::unique_ptr<Native, NativeDeleter>;
  explicit COutputFile(NativePtr native) : m_native(std::move(native)) {}

  NativePtr m_native;
};

// Gives `temporary` the name `target`, in one step, durably where the system
// offers it. `targetExists`: `target` is the regular file being replaced,
// whose ACL and attributes Windows then keeps; otherwise it is created.
[[nodiscard]] bool MoveIntoPlace(const std::filesystem::path& temporary,
                                 const std::filesystem::path& target, bool targetExists,
                                 std::string& reason);

// How many names the regular file at `path` has.
[[nodiscard]] bool CountHardLinks(const std::filesystem::path& path, std::uintmax_t& links,
                                  std::string& reason);

// `path` opened to read bytes, or null with errno set.
std::FILE* OpenForReading(const std::filesystem::path& path);

// Standard input and output carry bytes, untranslated.
void UseBinaryStandardStreams();
// Reads from descriptor 0: the count, 0 at its end, or -1 with errno set.
long ReadStandardInput(char* buffer, std::size_t size);
