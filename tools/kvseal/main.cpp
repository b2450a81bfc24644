// kvseal: seals configurations into the service's envelope and opens them
// again with kvfetch's own checks. See RunKvseal for the command itself.

#include <cerrno>
#include <cstdio>
#include <istream>
#include <streambuf>
#include <string>
#include <system_error>
#include <vector>

#include "kvseal/commands.h"
#include "kvseal/file_system.h"
#include "kvseal/kvseal_run.h"

#ifdef _WIN32
#include "hardening/hardened_start.h"
#include "support/utf8.h"
#endif

namespace {

bool WriteStream(std::FILE* stream, const std::string& bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size() &&
         std::fflush(stream) == 0;
}

// Standard input straight from descriptor 0: a closed descriptor, a
// directory or any other read error raises std::system_error, which the
// reader reports, where std::cin would only see an early end of file.
class CStandardInputBuffer final : public std::streambuf {
 protected:
  int_type underflow() override {
    for (;;) {
      const long count = ReadStandardInput(m_buffer, sizeof m_buffer);
      if (count > 0) {
        setg(m_buffer, m_buffer, m_buffer + count);
        return traits_type::to_int_type(m_buffer[0]);
      }
      if (count == 0) return traits_type::eof();
      if (errno != EINTR) throw std::system_error(errno, std::generic_category());
    }
  }

 private:
  char m_buffer[65536];
};

int Run(const std::vector<std::string>& args) {
  // Envelopes and configurations are bytes.
  UseBinaryStandardStreams();
  CStandardInputBuffer inputBuffer;
  std::istream standardInput(&inputBuffer);
  const KvsealResult result = RunKvseal(args, standardInput);
  // A closed or full standard output must not pass for success.
  if (!WriteStream(stdout, result.out)) {
    WriteStream(stderr, "kvseal: cannot write standard output\n");
    return kExitIo;
  }
  WriteStream(stderr, result.err);
  return result.exitCode;
}

}  // namespace

#ifdef _WIN32
// The wide entry point keeps file names and keys outside the ANSI code page.
int wmain(int argc, wchar_t** argv) {
  HardenProcessStart();
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(Utf8(argv[i]));
  return Run(args);
}
#else
int main(int argc, char** argv) { return Run(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
