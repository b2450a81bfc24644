#pragma once

// The two kvseal commands over bytes already read: no files, no streams.

#include <cstddef>
#include <string>
#include <string_view>

#include "kvseal/command_line.h"

// kvseal's exit codes.
enum KvsealExit : int {
  kExitOk = 0,
  kExitRefused = 1,  // the envelope or the configuration was refused
  kExitUsage = 2,    // the command line is unusable
  kExitIo = 3,       // a file or a standard stream could not be read or written
};

struct CommandOutcome {
  int exitCode = kExitOk;
  std::string output;  // what goes to the output file or standard output
  std::string error;   // one line for the user when refused, without "kvseal: "
};

// Why a configuration text would not do as kvfetch's configuration, or an
// empty string when it is fine: it must be clean JSON (no duplicate names,
// nothing but white space after it), an object, with a string "appid".
std::string CheckConfigText(const std::string& config);

// The envelope for `config`, checked unless `command.force`, and checked
// again after sealing through kvfetch's own envelope checks.
CommandOutcome SealConfig(const std::string& config, const KvsealCommand& command);

// The configuration text in `envelope`, exactly as kvfetch would pass it on,
// or the check that refused it.
CommandOutcome OpenEnvelope(const std::string& envelope, const KvsealCommand& command);
