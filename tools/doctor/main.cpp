// kvfetch-doctor: explains, step by step, what kvfetch would do on this
// machine and why. Staged beside kvfetch.exe, it looks for the network
// library where kvfetch does, and it reaches every verdict through kvfetch's
// own code. It makes the one real request kvfetch makes, but never calls the
// decoding library. Its exit status is the one kvfetch would report.
#include <cstdio>
#include <cstring>
#include <string>

#include "diagnosis.h"
#include "hardening/hardened_start.h"
#include "json_report.h"
#include "text_report.h"

namespace {

// Not a status kvfetch ever reports, so a script cannot mistake it.
constexpr int kExitUsage = 2;

constexpr char kUsage[] =
    "usage: kvfetch-doctor [--json]\n"
    "Explains what kvfetch would do on this machine and why. Makes one real\n"
    "request, like kvfetch, and exits with the status kvfetch would report\n"
    "(0, or -1 when the fetch fails). --json writes one JSON object instead\n"
    "of plain lines.\n";

void Write(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

}  // namespace

int main(int argc, char** argv) {
  HardenProcessStart();
  bool json = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) {
      json = true;
    } else {
      const bool help = std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "/?") == 0;
      std::fputs(kUsage, help ? stdout : stderr);
      return help ? 0 : kExitUsage;
    }
  }

  const Diagnosis diagnosis = Diagnose();
  Write(json ? JsonReport(diagnosis) : TextReport(diagnosis));
  std::fflush(stdout);
  return diagnosis.exitStatus;
}
