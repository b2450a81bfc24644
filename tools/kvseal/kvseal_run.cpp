#include "kvseal/kvseal_run.h"

#include <new>

#include "kvseal/command_line.h"
#include "kvseal/commands.h"
#include "kvseal/file_io.h"
#include "kvseal/mib_text.h"
#include "net/body_limit.h"

namespace {

constexpr char kUsage[] =
    R"(Usage: kvseal seal [FILE|-] [-o OUT] [--padding pkcs5|zero|none] [--key KEY] [--force]
       kvseal open [FILE|-] [-o OUT] [--key KEY] [--strip-padding]
       kvseal --help | --version

Publishes configurations for kvfetch and checks published ones.

seal  Enciphers the configuration in FILE (or standard input) and writes the
      service's envelope {"errno":0,"data":"<Base64>"}, with no line break
      after it. The configuration's bytes are sealed exactly as given, a final
      line break included. It must be clean JSON, an object, with a string
      "appid"; --force seals anything. Unless forced, the envelope is then
      checked the way kvfetch checks it.
      --padding  filler up to whole 8-byte blocks: pkcs5 (default), zero,
                 or none (the configuration must fill whole blocks)

open  Applies kvfetch's checks to the envelope in FILE (or standard input) and
      writes the configuration text exactly as kvfetch passes it on: every
      deciphered byte, so the sealer's filler (PKCS#5 bytes 0x01-0x08 or zero
      bytes) follows the JSON. Like kvfetch, it reads the envelope only up to
      its first zero byte. On refusal it names the check that failed.
      --strip-padding  drop the filler (valid PKCS#5 padding, else up to 7
                       trailing zero bytes) for reading

Both:
  -o, --output OUT  write to OUT instead of standard output; OUT is replaced
                    only when the command succeeds, never left half-written,
                    keeping its mode; a symbolic link is followed, a device
                    or FIFO is written in place, a file with other hard
                    links is refused
  --key KEY         cipher key of 1 to 72 bytes (default: kvfetch's fixed key)

)";

constexpr char kExitStatus[] = R"(
Exit status:
  0  done
  1  the envelope or configuration was refused (reason on standard error)
  2  usage error
  3  a file or standard stream could not be read or written, or out of memory
)";

std::string HelpText() {
  const std::string limit = MibText(kMaxResponseBodyBytes);
  return kUsage +
         ("Inputs over " + limit + " are refused, and so is a sealed envelope over " + limit +
          ":\nkvfetch's network library takes no larger body.\n") +
         kExitStatus;
}

KvsealResult Failure(int exitCode, const std::string& message) {
  return KvsealResult{exitCode, {}, "kvseal: " + message + "\n"};
}

InputBytes ReadInput(const std::string& input, std::istream& standardInput) {
  if (input == kStandardStream) return ReadWholeStream(standardInput, kMaxResponseBodyBytes);
  return ReadWholeFile(input, kMaxResponseBodyBytes);
}

KvsealResult RunCommand(const KvsealCommand& command, std::istream& standardInput) {
  const InputBytes input = ReadInput(command.input, standardInput);
  if (input.status != InputBytes::kRead) {
    return Failure(input.status == InputBytes::kTooLarge ? kExitRefused : kExitIo, input.error);
  }
  CommandOutcome outcome = command.action == KvsealAction::kSeal
                               ? SealConfig(input.bytes, command)
                               : OpenEnvelope(input.bytes, command);
  if (outcome.exitCode != kExitOk) return Failure(outcome.exitCode, outcome.error);
  if (command.output == kStandardStream) {
    return KvsealResult{kExitOk, std::move(outcome.output), {}};
  }
  std::string error;
  if (!WriteOutputFile(command.output, outcome.output, error)) return Failure(kExitIo, error);
  return KvsealResult{};
}

}  // namespace

KvsealResult RunKvseal(const std::vector<std::string>& args, std::istream& standardInput) {
  const ParsedCommandLine parsed = ParseCommandLine(args);
  if (!parsed.error.empty()) {
    return Failure(kExitUsage, parsed.error + "\nTry 'kvseal --help'.");
  }
  const KvsealCommand& command = parsed.command;
  switch (command.action) {
    case KvsealAction::kHelp:
      return KvsealResult{kExitOk, HelpText(), {}};
    case KvsealAction::kVersion:
      return KvsealResult{kExitOk, "kvseal " KVSEAL_VERSION "\n", {}};
    case KvsealAction::kSeal:
    case KvsealAction::kOpen:
      break;
  }

  try {
    return RunCommand(command, standardInput);
  } catch (const std::bad_alloc&) {
    return Failure(kExitIo, "out of memory");
  }
}
