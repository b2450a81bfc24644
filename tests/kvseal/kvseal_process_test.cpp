// The built kvseal as a process: what main adds to RunKvseal (arguments,
// binary standard output, the exit status) and nothing else.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "kvseal/seal_core.h"
#include "common/temp_tree.h"

#ifdef _WIN32
#include "common/test_support.h"
#else
#include <sys/wait.h>
#endif

namespace {

struct ProcessOutcome {
  int exitCode = -1;
  std::string out;
};

#ifdef _WIN32
ProcessOutcome RunKvsealExe(const std::string& args) {
  const kvtest::ProcessResult result =
      kvtest::RunProcess(kvtest::FromBuildPath(KVSEAL_EXE), kvtest::Widen(args));
  return {static_cast<int>(result.exitCode), result.out};
}
#else
ProcessOutcome RunKvsealExe(const std::string& args) {
  const std::string command = std::string("'") + KVSEAL_EXE + "' " + args + " 2>/dev/null";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return {};
  ProcessOutcome outcome;
  char chunk[4096];
  std::size_t count = 0;
  while ((count = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) outcome.out.append(chunk, count);
  const int status = ::pclose(pipe);
  outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}
#endif

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

TEST(KvsealProcessTest, WritesBytesAndExitStatus) {
  const kvtest::CTempTree dir;
  // A line break and filler bytes inside: a text-mode standard output would
  // turn "\n" into "\r\n" on Windows.
  const std::string config = "{\"appid\":\"kv\",\n\"a\":1}\n";
  const std::string envelope = SealConfigEnvelope(config);
  const std::string envelopePath = dir.Write("envelope.json", envelope);

  const ProcessOutcome sealed = RunKvsealExe("seal " + Quoted(dir.Write("config.json", config)));
  EXPECT_EQ(sealed.exitCode, 0);
  EXPECT_EQ(sealed.out, envelope);

  const ProcessOutcome opened = RunKvsealExe("open " + Quoted(envelopePath));
  EXPECT_EQ(opened.exitCode, 0);
  EXPECT_EQ(opened.out, config + std::string(2, '\x02'));  // 22 bytes

  const ProcessOutcome refused = RunKvsealExe("open " + Quoted(dir.Write("bad.json", "{}")));
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(RunKvsealExe("open --padding zero").exitCode, 2);
  EXPECT_EQ(RunKvsealExe("open " + Quoted(dir.Path("missing.json"))).exitCode, 3);
#ifndef _WIN32
  // Standard input closed: an I/O error, not an empty configuration.
  EXPECT_EQ(RunKvsealExe("seal <&-").exitCode, 3);
#endif
}

}  // namespace
