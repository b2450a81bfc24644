#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "net/net_exports.h"
#include "trust/publisher_check.h"

// The network library's entry points as GetProcAddress found them, one for
// each row of KV_NET_EXPORTS; any of them may be null.
struct NetExports {
#define KV_NET_EXPORT_FIELD(member, name, result, parameters, required) \
  decltype(&::name) member = nullptr;
  KV_NET_EXPORTS(KV_NET_EXPORT_FIELD)
#undef KV_NET_EXPORT_FIELD
};

// Looks up every export of the table in `module`.
NetExports LookUpNetExports(HMODULE module);

// One export of the table, and whether a library was found to have it.
struct NetExportFound {
  const char* name;
  bool required;
  bool found;
};

#define KV_COUNT_NET_EXPORT(...) +1
inline constexpr std::size_t kNetExportCount = 0 KV_NET_EXPORTS(KV_COUNT_NET_EXPORT);
#undef KV_COUNT_NET_EXPORT

// Every export of the table, in its order, as found in `exports`.
std::array<NetExportFound, kNetExportCount> ListNetExports(const NetExports& exports);

// What Init saw at one candidate file, for tools that explain a run.
struct CandidateReport {
  std::wstring name;  // "Wirelink.dll" or "Wirecore.dll"
  std::wstring path;  // empty when the joined path would not fit
  bool exists = false;
  bool checked = false;  // the publisher check ran; `verdict` is its finding
  PublisherVerdict verdict;
  bool loadTried = false;           // LoadFrom ran for this candidate
  bool usable = false;              // what LoadFrom returned
  bool loadedHere = false;          // this LoadFrom is the one that loaded a library
  bool moduleHeld = false;          // a library was held after it
  DWORD loadError = ERROR_SUCCESS;  // GetLastError right after LoadFrom
};

// Every step of one Init, in the order Init took it.
struct LibrarySearchReport {
  bool directoryFound = false;  // false when the program's own path did not fit
  std::wstring directory;
  std::vector<CandidateReport> candidates;
};

// Process-wide holder of the network library, its exports and its request
// factory. Created on first use and never destroyed; the library it loads is
// never unloaded. Init and LoadFrom run on the main thread before any
// request exists, so they take no lock.
class NetLibrary {
 public:
  // Never null. Safe to call from any thread; never loads anything.
  static NetLibrary& Instance();

  // Looks two directory levels above the program's own directory for
  // "Wirelink.dll", then "Wirecore.dll", and loads the first one whose
  // publisher is trusted. True when a library is held and usable. The run
  // ignores the result on purpose: a missing library shows up as a null
  // factory when the request is made.
  bool Init();
  // The same search, with every step it took recorded in `report`.
  bool Init(LibrarySearchReport& report);

  // Loads the library at `path` unless one is already held, looks up its
  // exports and calls its init export once for the factory. Returns whether
  // the held library is usable (every required export and a factory present).
  [[nodiscard]] bool LoadFrom(const wchar_t* path);

  // Not owned; null until a library's init export returned one.
  RequestFactory* Factory() const { return m_factory; }
  // The held library, or null; for tools that show what was loaded.
  HMODULE Module() const { return m_module; }
  const NetExports& Exports() const { return m_exports; }

  NetLibrary(const NetLibrary&) = delete;
  NetLibrary& operator=(const NetLibrary&) = delete;

 private:
  NetLibrary() = default;

  [[nodiscard]] bool IsUsable() const;
  // One candidate of the search in `directory`: true when it was loaded and
  // is usable.
  bool TryCandidate(const wchar_t* directory, CandidateReport& candidate);

  // Raw on purpose: the factory and any task it made live as long as the
  // process, so the module must never be freed.
  HMODULE m_module = nullptr;
  NetExports m_exports;
  RequestFactory* m_factory = nullptr;
};
