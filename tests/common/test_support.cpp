#include "common/test_support.h"

#include <fstream>
#include <stdexcept>

#include "common/process_launch.h"
#include "win/unique_handle.h"

namespace fs = std::filesystem;

namespace kvtest {

fs::path FromBuildPath(const char* unixPath) {
  std::wstring path = L"Z:" + Widen(unixPath);
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return fs::path(path);
}

DWORD ScaledMs(DWORD ms) {
  wchar_t text[16] = L"";
  const DWORD length = ::GetEnvironmentVariableW(L"KVFETCH_TIME_SCALE", text, 16);
  const unsigned long scale = length > 0 && length < 16 ? wcstoul(text, nullptr, 10) : 0;
  return scale > 1 && scale < 100 ? ms * scale : ms;
}

namespace {

// The child's environment: ours, with the extra variables set or replaced.
std::wstring BuildEnvironment(const std::vector<std::pair<std::wstring, std::wstring>>& extra) {
  std::wstring block;
  wchar_t* current = ::GetEnvironmentStringsW();
  for (const wchar_t* entry = current; *entry; entry += wcslen(entry) + 1) {
    std::wstring line(entry);
    bool replaced = false;
    for (const auto& [name, value] : extra) {
      if (_wcsnicmp(line.c_str(), (name + L"=").c_str(), name.size() + 1) == 0) replaced = true;
    }
    if (!replaced) block += line + L'\0';
  }
  ::FreeEnvironmentStringsW(current);
  for (const auto& [name, value] : extra) block += name + L"=" + value + L'\0';
  block += L'\0';
  return block;
}

std::string ReadAll(HANDLE pipe) {
  std::string out;
  char chunk[4096];
  DWORD got = 0;
  while (::ReadFile(pipe, chunk, sizeof chunk, &got, nullptr) && got > 0) out.append(chunk, got);
  return out;
}

}  // namespace

ProcessResult RunProcess(const fs::path& exe, const std::wstring& args,
                         const std::vector<std::pair<std::wstring, std::wstring>>& extraEnv,
                         DWORD timeoutMs) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readRaw = nullptr;
  HANDLE writeRaw = nullptr;
  if (!::CreatePipe(&readRaw, &writeRaw, &inherit, 0)) throw std::runtime_error("CreatePipe");
  CUniqueHandle readEnd(readRaw);
  CUniqueHandle writeEnd(writeRaw);
  ::SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0);

  std::wstring commandLine = L"\"" + exe.wstring() + L"\"";
  if (!args.empty()) commandLine += L" " + args;
  const std::wstring environment = BuildEnvironment(extraEnv);
  LaunchedProcess launched;
  if (!LaunchProcess(exe.wstring().c_str(), commandLine, writeEnd.Get(), environment.c_str(),
                     exe.parent_path().wstring().c_str(), launched)) {
    throw std::runtime_error("CreateProcessW failed: " + std::to_string(::GetLastError()));
  }
  const CUniqueHandle& process = launched.process;
  writeEnd.Reset();  // the child holds the only write end now

  ProcessResult result;
  std::thread reader([&] { result.out = ReadAll(readEnd.Get()); });
  if (::WaitForSingleObject(process.Get(), ScaledMs(timeoutMs)) != WAIT_OBJECT_0) {
    result.timedOut = true;
    ::TerminateProcess(process.Get(), 0xDEAD);
    ::WaitForSingleObject(process.Get(), INFINITE);
  }
  reader.join();
  ::GetExitCodeProcess(process.Get(), &result.exitCode);
  return result;
}

}  // namespace kvtest
