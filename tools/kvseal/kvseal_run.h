#pragma once

// The whole kvseal command apart from the process around it: main passes the
// arguments and standard input, and writes `out` and `err` to standard output
// and error. Files named on the command line are read and written here.

#include <istream>
#include <string>
#include <vector>

struct KvsealResult {
  int exitCode = 0;  // a KvsealExit
  std::string out;   // bytes for standard output
  std::string err;   // lines for standard error, each starting "kvseal: "
};

// `args` are the UTF-8 arguments after the program name. `standardInput` is
// read only when the input is "-", and must be in binary mode.
KvsealResult RunKvseal(const std::vector<std::string>& args, std::istream& standardInput);
