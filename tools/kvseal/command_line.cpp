#include "kvseal/command_line.h"

#include <optional>
#include <string_view>

namespace {

constexpr std::size_t kMaxKeyBytes = 72;

struct OptionInfo {
  std::string_view name;
  bool takesValue;
  bool forSeal;
  bool forOpen;
};

constexpr OptionInfo kOptions[] = {
    {"-o", true, true, true},        {"--output", true, true, true},
    {"--key", true, true, true},     {"--padding", true, true, false},
    {"--force", false, true, false}, {"--strip-padding", false, false, true},
};

const OptionInfo* FindOption(std::string_view name) {
  for (const OptionInfo& option : kOptions) {
    if (option.name == name) return &option;
  }
  return nullptr;
}

std::optional<SealPadding> PaddingNamed(std::string_view name) {
  if (name == "pkcs5") return SealPadding::kPkcs5;
  if (name == "zero") return SealPadding::kZero;
  if (name == "none") return SealPadding::kNone;
  return std::nullopt;
}

bool IsOption(std::string_view arg) { return arg.size() > 1 && arg.front() == '-'; }

std::optional<KvsealAction> EarlyExitAction(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (arg == "--help" || arg == "-h") return KvsealAction::kHelp;
    if (arg == "--version") return KvsealAction::kVersion;
  }
  return std::nullopt;
}

// Stores one option's effect; returns an error line or an empty string.
std::string ApplyOption(std::string_view name, const std::string& value, KvsealCommand& command) {
  if (name == "-o" || name == "--output") {
    if (value.empty()) return "the output file name is empty";
    command.output = value;
  } else if (name == "--key") {
    // An empty key would make every envelope look like bad Base64.
    if (value.empty()) return "the key must not be empty";
    // Blowfish's key schedule ignores the rest: two keys would seal alike.
    if (value.size() > kMaxKeyBytes) {
      return "the key has " + std::to_string(value.size()) + " bytes; Blowfish uses at most " +
             std::to_string(kMaxKeyBytes) + ", so the rest would be ignored";
    }
    command.key = value;
  } else if (name == "--padding") {
    const std::optional<SealPadding> padding = PaddingNamed(value);
    if (!padding) return "unknown padding '" + value + "' (pkcs5, zero or none)";
    command.padding = *padding;
  } else if (name == "--force") {
    command.force = true;
  } else if (name == "--strip-padding") {
    command.stripPadding = true;
  }
  return {};
}

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  ParsedCommandLine parsed;
  KvsealCommand& command = parsed.command;
  if (const std::optional<KvsealAction> action = EarlyExitAction(args)) {
    command.action = *action;
    return parsed;
  }
  if (args.empty()) {
    parsed.error = "missing command (seal or open)";
    return parsed;
  }
  if (args[0] == "seal") {
    command.action = KvsealAction::kSeal;
  } else if (args[0] == "open") {
    command.action = KvsealAction::kOpen;
  } else {
    parsed.error = "unknown command '" + args[0] + "' (seal or open)";
    return parsed;
  }
  const bool sealing = command.action == KvsealAction::kSeal;

  bool inputGiven = false;
  bool optionsEnded = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (optionsEnded || !IsOption(arg)) {
      if (inputGiven) {
        parsed.error = "more than one input file ('" + command.input + "', '" + arg + "')";
        return parsed;
      }
      command.input = arg;
      inputGiven = true;
      continue;
    }

    // Long options also take their value as --name=value.
    const std::size_t equals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
    const std::string name = arg.substr(0, equals);
    const OptionInfo* option = FindOption(name);
    if (option == nullptr || !(sealing ? option->forSeal : option->forOpen)) {
      parsed.error = "unknown option '" + name + "' for " + args[0];
      return parsed;
    }
    std::string value;
    if (equals != std::string::npos) {
      if (!option->takesValue) {
        parsed.error = "option '" + name + "' takes no value";
        return parsed;
      }
      value = arg.substr(equals + 1);
    } else if (option->takesValue) {
      if (i + 1 == args.size()) {
        parsed.error = "option '" + name + "' needs a value";
        return parsed;
      }
      value = args[++i];
    }
    parsed.error = ApplyOption(name, value, command);
    if (!parsed.error.empty()) return parsed;
  }
  return parsed;
}
