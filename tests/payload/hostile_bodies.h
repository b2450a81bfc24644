// Response bodies a hostile or broken service might send, each with what the
// envelope rules must make of it. Shared by the in-process rules test and the
// whole-program run of a few of them.
#pragma once

#include <string>
#include <vector>

inline constexpr char kHostileConfig[] = R"({"appid":"kv-demo","ttl":300})";

// kAccepted and kRefused are certain; kEither is left to the envelope rules
// (jsoncpp's leniency), as long as an accepted body yields `config`.
enum class Verdict { kAccepted, kRefused, kEither };

struct HostileBody {
  std::string name;
  std::string body;
  Verdict verdict;
  std::string config = kHostileConfig;  // the text an accepted envelope yields
};

std::vector<HostileBody> HostileBodies();

// Sealed as the tests' service seals: zero filler, the program's key.
std::string SealedHostileConfig(const std::string& config = kHostileConfig);
