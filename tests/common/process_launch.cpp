#include "common/process_launch.h"

namespace kvtest {

bool LaunchProcess(const wchar_t* application, std::wstring commandLine, HANDLE output,
                   const wchar_t* environment, const wchar_t* workDir, LaunchedProcess& launched) {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  const CUniqueFile nul(::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                      OPEN_EXISTING, 0, nullptr));
  if (!nul) return false;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nul.Get();
  startup.hStdOutput = output ? output : nul.Get();
  startup.hStdError = nul.Get();

  PROCESS_INFORMATION info{};
  // CreateProcessW may write to the command line: it is our own copy.
  if (!::CreateProcessW(application, commandLine.data(), nullptr, nullptr, TRUE,
                        CREATE_UNICODE_ENVIRONMENT, const_cast<wchar_t*>(environment), workDir,
                        &startup, &info)) {
    return false;
  }
  launched.process = CUniqueHandle(info.hProcess);
  launched.thread = CUniqueHandle(info.hThread);
  return true;
}

}  // namespace kvtest
