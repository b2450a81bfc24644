#include "process_census.h"

// Needs <windows.h> first.
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <cstdio>

#include "win/get_export.h"
#include "win/unique_handle.h"

namespace kvtest {
namespace {

// The system's handle table, as NtQuerySystemInformation lists it.
struct SystemHandleEntry {
  ULONG ownerProcessId;
  BYTE objectType;
  BYTE flags;
  USHORT value;
  PVOID object;
  ACCESS_MASK access;
};
struct SystemHandleTable {
  ULONG count;
  SystemHandleEntry entries[1];
};
constexpr ULONG kSystemHandleInformation = 16;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);

template <typename Func>
Func NtdllFunction(const char* name) {
  return GetExport<Func>(::GetModuleHandleW(L"ntdll.dll"), name);
}

std::vector<HANDLE> OwnHandles() {
  using QueryFunc = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
  const auto query = NtdllFunction<QueryFunc>("NtQuerySystemInformation");
  if (!query) return {};
  std::vector<unsigned char> buffer(1 << 16);
  LONG status = kStatusInfoLengthMismatch;
  while (status == kStatusInfoLengthMismatch && buffer.size() < (1u << 28)) {
    ULONG needed = 0;
    status =
        query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status == kStatusInfoLengthMismatch)
      buffer.resize(std::max<size_t>(needed, buffer.size() * 2));
  }
  if (status != 0) return {};
  const auto* table = reinterpret_cast<const SystemHandleTable*>(buffer.data());
  const DWORD self = ::GetCurrentProcessId();
  std::vector<HANDLE> handles;
  for (ULONG i = 0; i < table->count; ++i) {
    const SystemHandleEntry& entry = table->entries[i];
    if (entry.ownerProcessId == self)
      handles.push_back(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(entry.value)));
  }
  std::sort(handles.begin(), handles.end());
  return handles;
}

DWORD ThreadCount() {
  CUniqueFile snapshot = CUniqueFile(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snapshot) return 0;
  const DWORD self = ::GetCurrentProcessId();
  DWORD count = 0;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Thread32First(snapshot.Get(), &entry); more;
       more = ::Thread32Next(snapshot.Get(), &entry)) {
    if (entry.th32OwnerProcessID == self) ++count;
  }
  return count;
}

// The UNICODE_STRING at the start of what NtQueryObject returns for the
// type (2) and name (1) classes, as UTF-8-ish narrow text for a log line.
std::string QueryObjectString(HANDLE handle, int infoClass) {
  using QueryFunc = LONG(WINAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
  const auto query = NtdllFunction<QueryFunc>("NtQueryObject");
  if (!query) return "?";
  alignas(UNICODE_STRING) unsigned char buffer[2048] = {};
  ULONG needed = 0;
  if (query(handle, infoClass, buffer, sizeof(buffer) - sizeof(wchar_t), &needed) != 0) return "?";
  const auto* text = reinterpret_cast<const UNICODE_STRING*>(buffer);
  std::string narrow;
  for (USHORT i = 0; text->Buffer && i < text->Length / sizeof(wchar_t); ++i)
    narrow.push_back(text->Buffer[i] < 0x80 ? static_cast<char>(text->Buffer[i]) : '?');
  return narrow;
}

}  // namespace

ProcessCensus TakeCensus() { return {OwnHandles(), ThreadCount()}; }

std::string DescribeNewHandles(const ProcessCensus& before, const ProcessCensus& now) {
  constexpr int kObjectNameInformation = 1;
  constexpr int kObjectTypeInformation = 2;
  std::string lines;
  for (HANDLE handle : now.handles) {
    if (std::binary_search(before.handles.begin(), before.handles.end(), handle)) continue;
    char value[32];
    std::snprintf(value, sizeof(value), "0x%04lx ",
                  static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(handle)));
    lines += value + QueryObjectString(handle, kObjectTypeInformation);
    const std::string name = QueryObjectString(handle, kObjectNameInformation);
    if (!name.empty() && name != "?") lines += " " + name;
    lines += "\n";
  }
  return lines;
}

}  // namespace kvtest
