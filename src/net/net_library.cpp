#include "net/net_library.h"

#include <shlwapi.h>

#include <algorithm>

#include "trust/publisher_check.h"
#include "win/get_export.h"
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
CUniqueFile PinFile(const wchar_t* path) {
  return CUniqueFile(::CreateFileW(path, GENERIC_READ,
                                   FILE_SHARE_READ,  // deny write and delete
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

void RecordLoad(CandidateReport& record, bool usable, HMODULE heldBefore, HMODULE heldAfter) {
  // First: anything else may overwrite the loader's error.
  record.loadError = ::GetLastError();
  record.loadTried = true;
  record.usable = usable;
  record.loadedHere = heldBefore == nullptr && heldAfter != nullptr;
  record.moduleHeld = heldAfter != nullptr;
}

}  // namespace

NetExports LookUpNetExports(HMODULE module) {
  NetExports exports;
#define KV_LOOK_UP_NET_EXPORT(member, name, result, parameters, required) \
  exports.member = KV_GET_EXPORT(module, name);
  KV_NET_EXPORTS(KV_LOOK_UP_NET_EXPORT)
#undef KV_LOOK_UP_NET_EXPORT
  return exports;
}

std::array<NetExportFound, kNetExportCount> ListNetExports(const NetExports& exports) {
  return {{
#define KV_LIST_NET_EXPORT(member, name, result, parameters, required) \
  {#name, required, exports.member != nullptr},
      KV_NET_EXPORTS(KV_LIST_NET_EXPORT)
#undef KV_LIST_NET_EXPORT
  }};
}

NetLibrary& NetLibrary::Instance() {
  // Built once under the compiler's thread-safe static guard and never
  // destroyed: the network library's threads may still run at exit. If the
  // allocation throws, nothing is recorded and the next call tries again.
  static NetLibrary* instance = new NetLibrary;
  return *instance;
}

bool NetLibrary::Init() {
  LibrarySearchReport unread;
  return Init(unread);
}

bool NetLibrary::Init(LibrarySearchReport& report) {
  report = LibrarySearchReport();
  wchar_t directory[kPathCapacity] = {};
  report.directoryFound = LibraryDirectory(directory);
  if (!report.directoryFound) return false;
  report.directory = directory;
  for (const wchar_t* name : kCandidateNames) {
    CandidateReport& candidate = report.candidates.emplace_back();
    candidate.name = name;
    if (TryCandidate(directory, candidate)) return true;
  }
  return false;
}

bool NetLibrary::TryCandidate(const wchar_t* directory, CandidateReport& candidate) {
  wchar_t path[kPathCapacity] = {};
  // Null when the joined path would not fit; the cut text must not be used.
  if (!::PathCombineW(path, directory, candidate.name.c_str())) return false;
  candidate.path = path;
  candidate.exists = ::PathFileExistsW(path) != FALSE;
  if (!candidate.exists) return false;
  // If the file cannot be pinned, the check and the load still go ahead
  // unpinned; the check alone decides.
  const CUniqueFile pin = PinFile(path);
  candidate.checked = true;
  if (!PublisherCheck(path, &candidate.verdict)) return false;
  const HMODULE heldBefore = m_module;
  const bool usable = LoadFrom(path);
  RecordLoad(candidate, usable, heldBefore, m_module);
  return usable;
}

bool NetLibrary::LoadFrom(const wchar_t* path) {
  if (!m_module) {
    m_module = ::LoadLibraryW(path);
    if (!m_module) return false;
    m_exports = LookUpNetExports(m_module);
    // Called even when another required export is missing: a factory is
    // still worth keeping for callers that only need to make requests.
    if (m_exports.httpInit) m_factory = m_exports.httpInit();
  }
  return IsUsable();
}

bool NetLibrary::IsUsable() const {
  const auto exports = ListNetExports(m_exports);
  const bool requiredFound =
      std::all_of(exports.begin(), exports.end(),
                  [](const NetExportFound& e) { return e.found || !e.required; });
  return requiredFound && m_factory != nullptr;
}
