// A network library whose every outcome is scripted, for the reports a real
// server cannot provoke. Its tasks are the tests' fakes (common/
// fake_http_task.h), which keep the stand-in's contract: no report is under
// way or begins once SetCallback(nullptr) has returned. The script is
// fake_network.txt beside the DLL, one command a line:
//   start 0                         Start fails (returns 0) and nothing is reported
//   inline                          reports run inside Start, on the caller's thread
//   pause MS                        wait before the next report (task's thread only)
//   report STATE FIRST SECOND [F]   one report; F names a file beside the script
//                                   whose bytes are the body (none: empty body)
// No report lines, or no script: the request never ends.
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>

#include "common/fake_http_task.h"
#include "net/net_exports.h"
#include "network-library/refusing_exports.h"

namespace {

std::filesystem::path ScriptPath() {
  HMODULE self = nullptr;
  ::GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&ScriptPath), &self);
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(self, path, MAX_PATH);
  return std::filesystem::path(path).parent_path() / L"fake_network.txt";
}

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

kvtest::FakeScript LoadScript(const std::filesystem::path& path) {
  kvtest::FakeScript script;
  std::istringstream lines(ReadBytes(path));
  int pauseMs = 0;
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string command;
    words >> command;
    if (command == "start") {
      words >> script.startResult;
    } else if (command == "inline") {
      script.reportsInsideStart = true;
    } else if (command == "pause") {
      words >> pauseMs;
    } else if (command == "report") {
      kvtest::FakeReport report;
      std::string bodyFile;
      words >> report.state >> report.firstError >> report.secondError >> bodyFile;
      if (!bodyFile.empty()) report.body = ReadBytes(path.parent_path() / bodyFile);
      report.pauseMs = std::exchange(pauseMs, 0);
      script.reports.push_back(std::move(report));
    }
  }
  return script;
}

}  // namespace

extern "C" {

RequestFactory* __cdecl HttpInit() {
  // Never freed: the program never unloads its network library.
  static RequestFactory* factory = new kvtest::CFakeTaskFactory(LoadScript(ScriptPath()));
  return factory;
}

}  // extern "C"
