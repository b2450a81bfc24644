#pragma once

// What the kvseal command line asks for. Arguments are UTF-8 (main converts
// them on Windows), and so are the paths they name.

#include <string>
#include <vector>

#include "kvseal/seal_core.h"

enum class KvsealAction { kHelp, kVersion, kSeal, kOpen };

// "-" as input or output stands for standard input or output.
inline constexpr char kStandardStream[] = "-";

struct KvsealCommand {
  KvsealAction action = KvsealAction::kHelp;
  std::string input = kStandardStream;
  std::string output = kStandardStream;
  std::string key{kConfigKey};
  SealPadding padding = SealPadding::kPkcs5;
  bool force = false;         // seal: skip the configuration checks
  bool stripPadding = false;  // open: drop the sealer's filler
};

struct ParsedCommandLine {
  KvsealCommand command;
  std::string error;  // one line for the user when the command line is unusable
};

// `args` are the arguments after the program name. --help and --version win
// over everything else on the line, so that they work from any half-typed
// command.
ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args);
