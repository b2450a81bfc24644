#include "fake_script.h"

#include <fstream>
#include <iterator>
#include <sstream>

namespace {

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace

FakeScript LoadFakeScript(const std::filesystem::path& scriptPath) {
  FakeScript script;
  std::ifstream file(scriptPath);
  std::string line;
  int pendingPause = 0;
  while (std::getline(file, line)) {
    std::istringstream words(line);
    std::string command;
    words >> command;
    if (command == "start") {
      words >> script.startResult;
    } else if (command == "inline") {
      script.inlineReports = true;
    } else if (command == "pause") {
      words >> pendingPause;
    } else if (command == "report") {
      FakeReport report;
      std::string bodyFile;
      words >> report.state >> report.firstError >> report.secondError >> bodyFile;
      if (!bodyFile.empty()) report.body = ReadBytes(scriptPath.parent_path() / bodyFile);
      report.pauseMs = pendingPause;
      pendingPause = 0;
      script.reports.push_back(std::move(report));
    }
  }
  return script;
}
