#include "kvseal/commands.h"

#include <json/json.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "kvseal/mib_text.h"
#include "kvseal/seal_core.h"
#include "net/body_limit.h"
#include "payload/config_envelope.h"
#include "support/envelope_checks.h"

namespace {

CommandOutcome Refusal(std::string error) {
  return CommandOutcome{kExitRefused, {}, std::move(error)};
}

// `text` without leading spaces, tabs, carriage returns and jsoncpp's "*"
// bullet, and without trailing spaces, tabs and carriage returns.
std::string_view Trimmed(std::string_view text) {
  const std::size_t begin = text.find_first_not_of(" *\t\r");
  if (begin == std::string_view::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t\r") + 1 - begin);
}

// jsoncpp lists its errors as "* Line 1, Column 9\n  Syntax error...\n";
// the user gets the first one on one line.
std::string FirstParseError(std::string_view text) {
  const std::size_t firstBreak = std::min(text.find('\n'), text.size());
  const std::string_view position = Trimmed(text.substr(0, firstBreak));
  std::string_view message = text.substr(std::min(firstBreak + 1, text.size()));
  message = Trimmed(message.substr(0, message.find('\n')));
  if (message.empty()) return std::string(position);
  return std::string(position) + ": " + std::string(message);
}

// Stricter than kvfetch's reading on purpose: text that kvfetch would take
// only by accident (trailing garbage, a cut-off object, a repeated "appid")
// is a publishing mistake.
std::optional<Json::Value> ParseStrictly(const std::string& text, std::string& error) {
  Json::CharReaderBuilder builder;
  builder["failIfExtra"] = true;
  builder["rejectDupKeys"] = true;
  const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value root;
  try {
    if (reader->parse(text.data(), text.data() + text.size(), &root, &error)) return root;
  } catch (const Json::Exception& exception) {
    // jsoncpp gives up by raising when nesting is too deep.
    error = exception.what();
  }
  return std::nullopt;
}

std::string DescribeRefusal(const EnvelopeVerdict& verdict) {
  if (verdict.check == EnvelopeCheck::kErrnoNonZero) {
    return "errno is " + std::to_string(verdict.errnoValue);
  }
  std::string text = DescribeEnvelopeCheck(verdict.check);
  if (verdict.check == EnvelopeCheck::kPlainNotJsonObject) text += " (wrong key?)";
  return text;
}

// The length of SealConfigEnvelope's result for a configuration of `length`
// bytes, worked out before any of it is made.
std::size_t SealedEnvelopeSize(std::size_t length, SealPadding padding) {
  constexpr std::size_t kFrame = sizeof(R"({"errno":0,"data":""})") - 1;
  return kFrame + (PaddedLength(length, padding) + 2) / 3 * 4;
}

}  // namespace

std::string CheckConfigText(const std::string& config) {
  std::string parseError;
  const std::optional<Json::Value> root = ParseStrictly(config, parseError);
  if (!root) return "configuration is not valid JSON: " + FirstParseError(parseError);
  if (!root->isObject()) return "configuration is not a JSON object";
  const Json::Value& object = *root;
  if (!object["appid"].isString()) return "appid is missing or not a string";
  return {};
}

CommandOutcome SealConfig(const std::string& config, const KvsealCommand& command) {
  if (!command.force) {
    const std::string problem = CheckConfigText(config);
    if (!problem.empty()) return Refusal(problem + " (--force seals it anyway)");
  }
  if (SealedEnvelopeSize(config.size(), command.padding) > kMaxResponseBodyBytes) {
    return Refusal("the sealed envelope would be larger than " + MibText(kMaxResponseBodyBytes) +
                   ", which kvfetch's network library refuses (the configuration has " +
                   std::to_string(config.size()) + " bytes)");
  }
  // The key is never empty here, so only unpadded text of partial blocks fails.
  std::string envelope = SealConfigEnvelope(config, command.key, command.padding);
  if (envelope.empty()) {
    return Refusal("with --padding none the configuration must fill whole 8-byte blocks (it has " +
                   std::to_string(config.size()) + " bytes)");
  }
  if (!command.force) {
    const EnvelopeVerdict verdict = InspectConfigEnvelope(envelope.c_str(), command.key);
    if (verdict.check != EnvelopeCheck::kAccepted) {
      return Refusal("kvfetch would refuse the sealed envelope: " + DescribeRefusal(verdict));
    }
  }
  return CommandOutcome{kExitOk, std::move(envelope), {}};
}

CommandOutcome OpenEnvelope(const std::string& envelope, const KvsealCommand& command) {
  EnvelopeVerdict verdict = InspectConfigEnvelope(envelope.c_str(), command.key);
  if (verdict.check != EnvelopeCheck::kAccepted) return Refusal(DescribeRefusal(verdict));
  if (command.stripPadding) verdict.text = StripFiller(std::move(verdict.text));
  return CommandOutcome{kExitOk, std::move(verdict.text), {}};
}
