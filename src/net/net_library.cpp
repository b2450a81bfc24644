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
  return CUniqueHandle::FromFile(::CreateFileW(path, GENERIC_READ,
                                               FILE_SHARE_READ,  // deny write and delete
                                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                               nullptr));
}

// What kvfetch itself runs: no records, only the check. Its empty hooks
// compile away, so the run's search is the loop it has always been.
struct SilentSearch {
  void Directory(const wchar_t*) {}
  void Candidate(const wchar_t*) {}
  void Path(const wchar_t*) {}
  void Exists() {}
  bool Check(const wchar_t* path) { return PublisherCheck(path); }
  void Loaded(bool, HMODULE, HMODULE) {}
};

class RecordingSearch {
 public:
  explicit RecordingSearch(LibrarySearchReport& report) : m_report(report) {}

  void Directory(const wchar_t* directory) {
    m_report.directoryFound = true;
    m_report.directory = directory;
  }
  void Candidate(const wchar_t* name) {
    m_report.candidates.emplace_back();
    m_report.candidates.back().name = name;
  }
  void Path(const wchar_t* path) { m_report.candidates.back().path = path; }
  void Exists() { m_report.candidates.back().exists = true; }
  // PublisherCheck is this verdict's `accepted`, so the decision is the run's.
  bool Check(const wchar_t* path) {
    CandidateReport& candidate = m_report.candidates.back();
    candidate.checked = true;
    candidate.verdict = InspectPublisher(path);
    return candidate.verdict.accepted;
  }
  void Loaded(bool usable, HMODULE heldBefore, HMODULE heldAfter) {
    // First: anything else may overwrite the loader's error.
    const DWORD error = ::GetLastError();
    CandidateReport& candidate = m_report.candidates.back();
    candidate.loadTried = true;
    candidate.usable = usable;
    candidate.loadedHere = heldBefore == nullptr && heldAfter != nullptr;
    candidate.moduleHeld = heldAfter != nullptr;
    candidate.loadError = error;
  }

 private:
  LibrarySearchReport& m_report;
};

}  // namespace

NetLibrary& NetLibrary::Instance() {
  // Built once under the compiler's thread-safe static guard and never
  // destroyed: the network library's threads may still run at exit. If the
  // allocation throws, nothing is recorded and the next call tries again.
  static NetLibrary* instance = new NetLibrary;
  return *instance;
}

template <typename Observer>
bool NetLibrary::Search(Observer& observer) {
  wchar_t directory[kPathCapacity] = {};
  if (!LibraryDirectory(directory)) return false;
  observer.Directory(directory);

  wchar_t candidate[kPathCapacity] = {};
  for (const wchar_t* name : kCandidateNames) {
    observer.Candidate(name);
    // Null when the joined path would not fit; the cut text must not be used.
    if (!::PathCombineW(candidate, directory, name)) continue;
    observer.Path(candidate);
    if (!::PathFileExistsW(candidate)) continue;
    observer.Exists();
    // If the file cannot be pinned, the check and the load still go ahead
    // unpinned; the check alone decides.
    const CUniqueHandle pin = PinFile(candidate);
    if (!observer.Check(candidate)) continue;
    const HMODULE heldBefore = m_module;
    const bool usable = LoadFrom(candidate);
    observer.Loaded(usable, heldBefore, m_module);
    if (usable) return true;
  }
  return false;
}

bool NetLibrary::Init() {
  SilentSearch observer;
  return Search(observer);
}

bool NetLibrary::Init(LibrarySearchReport& report) {
  report = LibrarySearchReport();
  RecordingSearch observer(report);
  return Search(observer);
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

NetExports NetLibrary::Exports() const {
  NetExports exports;
  exports.httpInit = m_httpInit;
  exports.httpUninit = m_httpUninit;
  exports.zlibUncompress = m_zlibUncompress;
  exports.zlibCompress = m_zlibCompress;
  exports.zlibCompressBound = m_zlibCompressBound;
  return exports;
}

void NetLibrary::Adopt(const NetExports& exports) {
  m_httpInit = exports.httpInit;
  m_httpUninit = exports.httpUninit;
  m_zlibUncompress = exports.zlibUncompress;
  m_zlibCompress = exports.zlibCompress;
  m_zlibCompressBound = exports.zlibCompressBound;
}
