#include "net/net_library.h"

#include <shlwapi.h>

#include "trust/publisher_check.h"
#include "win/unique_handle.h"

namespace {

// MAX_PATH: the loader works with fixed buffers and never with longer paths.
constexpr DWORD kPathCapacity = MAX_PATH;

// The library ships two levels above the program's folder: removing the
// file name and then two folders gets there.
constexpr int kLevelsToRemove = 3;

// Wirelink is the current name; Wirecore is what older installations ship.
constexpr const wchar_t* kCandidateNames[] = {L"Wirelink.dll", L"Wirecore.dll"};

static_assert(sizeof(NetLibrary) == 7 * sizeof(void*),
              "the holder is the module, five entries and the factory");

// GetProcAddress hands out a generic FARPROC; going through void(*)() is the
// conversion GCC accepts without -Wcast-function-type.
template <typename Func>
Func LookUp(HMODULE module, const char* name) {
  return reinterpret_cast<Func>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

NetExports LookUpExports(HMODULE module) {
  NetExports exports;
  exports.httpInit = LookUp<HttpInitFunc>(module, "HttpInit");
  exports.httpUninit = LookUp<HttpUninitFunc>(module, "HttpUninit");
  exports.zlibUncompress = LookUp<ZlibUncompressFunc>(module, "zlib_uncompress");
  exports.zlibCompress = LookUp<ZlibCompressFunc>(module, "zlib_compress");
  exports.zlibCompressBound = LookUp<ZlibCompressBoundFunc>(module, "zlib_compressBound");
  return exports;
}

// Fills `directory` with the folder two levels above the program's folder.
// False when the program's path does not fit: a cut path names some other
// folder, and Wine does not even terminate it, so nothing in the buffer may
// be read then.
bool LibraryDirectory(wchar_t (&directory)[kPathCapacity]) {
  ::SetLastError(ERROR_SUCCESS);
  const DWORD length = ::GetModuleFileNameW(nullptr, directory, kPathCapacity);
  // Read right after the call: the length alone is ambiguous at capacity.
  const DWORD error = ::GetLastError();
  if (length == 0 || length >= kPathCapacity || error == ERROR_INSUFFICIENT_BUFFER) return false;
  directory[length] = L'\0';
  // At a drive or share root PathRemoveFileSpecW leaves the path as it is,
  // which is where the search then happens.
  for (int level = 0; level < kLevelsToRemove; ++level) ::PathRemoveFileSpecW(directory);
  return true;
}

// Opened before the publisher check and held until the load has returned, so
// that nobody can replace the file between the two: reading is shared,
// writing, renaming and deleting are not.
CUniqueHandle PinFile(const wchar_t* path) {
  return CUniqueHandle::FromFile(::CreateFileW(path,
                                               GENERIC_READ,
                                               FILE_SHARE_READ,  // deny write and delete
                                               nullptr,
                                               OPEN_EXISTING,
                                               FILE_ATTRIBUTE_NORMAL,
                                               nullptr));
}

}  // namespace

NetLibrary& NetLibrary::Instance() {
  // Built once under the compiler's thread-safe static guard and never
  // destroyed: the network library's threads may still run at exit. If the
  // allocation throws, nothing is recorded and the next call tries again.
  static NetLibrary* instance = new NetLibrary;
  return *instance;
}

bool NetLibrary::Init() {
  wchar_t directory[kPathCapacity] = {};
  if (!LibraryDirectory(directory)) return false;

  wchar_t candidate[kPathCapacity] = {};
  for (const wchar_t* name : kCandidateNames) {
    // Null when the joined path would not fit; the cut text must not be used.
    if (!::PathCombineW(candidate, directory, name)) continue;
    if (!::PathFileExistsW(candidate)) continue;
    // If the file cannot be pinned, the check and the load still go ahead
    // unpinned; the check alone decides.
    const CUniqueHandle pin = PinFile(candidate);
    if (!PublisherCheck(candidate)) continue;
    if (LoadFrom(candidate)) return true;
  }
  return false;
}

bool NetLibrary::LoadFrom(const wchar_t* path) {
  if (!m_module) {
    m_module = ::LoadLibraryW(path);
    if (!m_module) return false;
    Adopt(LookUpExports(m_module));
    // Called even when HttpUninit is missing: a factory is still worth
    // keeping for callers that only need to make requests.
    if (m_httpInit) m_factory = m_httpInit();
  }
  return IsUsable();
}

bool NetLibrary::IsUsable() const {
  return m_httpUninit != nullptr && m_httpInit != nullptr && m_factory != nullptr;
}

void NetLibrary::Adopt(const NetExports& exports) {
  m_httpInit = exports.httpInit;
  m_httpUninit = exports.httpUninit;
  m_zlibUncompress = exports.zlibUncompress;
  m_zlibCompress = exports.zlibCompress;
  m_zlibCompressBound = exports.zlibCompressBound;
}
