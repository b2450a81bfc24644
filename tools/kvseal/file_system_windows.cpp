// kvseal's file calls on Windows: wide paths, Win32 handles, the system's
// own messages.

#include "kvseal/file_system.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <climits>
#include <iterator>
#include <string_view>
#include <utility>

#include "win/unique_handle.h"
#include "support/utf8.h"

namespace fs = std::filesystem;

namespace {

// The system's text for `error`, on one line.
std::string SystemMessage(DWORD error) {
  wchar_t text[512];
  DWORD length =
      ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       0, text, static_cast<DWORD>(std::size(text)), nullptr);
  while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n')) --length;
  if (length == 0) return "system error " + std::to_string(error);
  return Utf8(std::wstring_view(text, length));
}

std::string LastErrorText() { return SystemMessage(::GetLastError()); }

// What the temporary file takes over from the file it is to replace.
// ReplaceFileW merges attributes on Windows, but Wine's does not. Never
// read-only: ReplaceFileW refuses a read-only target, and needs to write the
// temporary file.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

}  // namespace

struct COutputFile::Native {
  CUniqueFile file;
};

void COutputFile::NativeDeleter::operator()(Native* native) const { delete native; }

COutputFile COutputFile::CreateExclusive(const fs::path& path, const fs::path* replacing,
                                         bool& nameTaken, std::string& reason) {
  nameTaken = false;
  DWORD attributes = FILE_ATTRIBUTE_NORMAL;
  if (replacing != nullptr) {
    const DWORD existing = ::GetFileAttributesW(replacing->c_str());
    if (existing == INVALID_FILE_ATTRIBUTES) {
      reason = LastErrorText();
      return {};
    }
    if ((existing & kKeptAttributes) != 0) attributes = existing & kKeptAttributes;
  }
  // CREATE_NEW fails on any name already there, a link included.
  CUniqueFile file(
      ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr));
  if (!file) {
    const DWORD error = ::GetLastError();
    nameTaken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
    reason = SystemMessage(error);
    return {};
  }
  return COutputFile(NativePtr(new Native{std::move(file)}));
}

COutputFile COutputFile::OpenExisting(const fs::path& path, std::string& reason) {
  CUniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    reason = LastErrorText();
    return {};
  }
  return COutputFile(NativePtr(new Native{std::move(file)}));
}

bool COutputFile::WriteAll(const std::string& bytes, std::string& reason) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - written, 1u << 30));
    DWORD count = 0;
    if (!::WriteFile(m_native->file.Get(), bytes.data() + written, chunk, &count, nullptr)) {
      reason = LastErrorText();
      return false;
    }
    if (count == 0) {
      reason = SystemMessage(ERROR_DISK_FULL);
      return false;
    }
    written += count;
  }
  return true;
}

bool COutputFile::Close(bool toDisk, std::string& reason) {
  const NativePtr native = std::move(m_native);
  if (toDisk && !::FlushFileBuffers(native->file.Get())) {
    reason = LastErrorText();
    return false;
  }
  if (!::CloseHandle(native->file.Release())) {
    reason = LastErrorText();
    return false;
  }
  return true;
}

bool MoveIntoPlace(const fs::path& temporary, const fs::path& target, bool targetExists,
                   std::string& reason) {
  if (!targetExists) {
    // No MOVEFILE_REPLACE_EXISTING: a file that appeared meanwhile was never
    // checked, and stays.
    if (::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) return true;
  } else if (::ReplaceFileW(target.c_str(), temporary.c_str(), nullptr,
                            REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
    return true;
  } else if (::GetLastError() == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 &&
             ::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
    // The old file was moved off the name, the new one not onto it yet.
    return true;
  }
  reason = LastErrorText();
  return false;
}

bool CountHardLinks(const fs::path& path, std::uintmax_t& links, std::string& reason) {
  const CUniqueFile file(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, 0, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!file || !::GetFileInformationByHandle(file.Get(), &info)) {
    reason = LastErrorText();
    return false;
  }
  links = info.nNumberOfLinks;
  return true;
}

// The C runtime's narrow open would take the ANSI code page.
std::FILE* OpenForReading(const fs::path& path) { return ::_wfopen(path.c_str(), L"rb"); }

// No CR/LF translation, no Ctrl-Z as end of file.
void UseBinaryStandardStreams() {
  ::_setmode(::_fileno(stdin), _O_BINARY);
  ::_setmode(::_fileno(stdout), _O_BINARY);
}

long ReadStandardInput(char* buffer, std::size_t size) {
  return ::_read(0, buffer, static_cast<unsigned>(std::min<std::size_t>(size, INT_MAX)));
}
