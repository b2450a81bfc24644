#include "kvseal/kvseal_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "kvseal/commands.h"
#include "kvseal/seal_core.h"
#include "net/body_limit.h"
#include "common/temp_tree.h"

namespace {

using kvtest::CTempTree;
using Args = std::vector<std::string>;

const std::string kConfig = R"({"appid":"kv-demo","level":3})";  // 29 bytes

// One row of a table: what kvseal is given, and what it must say.
struct TextCase {
  std::string input;
  const char* expected;
};

KvsealResult RunWith(const Args& args, const std::string& standardInput = "") {
  std::istringstream in(standardInput);
  return RunKvseal(args, in);
}

TEST(KvsealRunTest, OpenNamesEachRefusal) {
  const TextCase kCases[] = {
      // an envelope, and kvseal's message
      {"not json", "kvseal: body is not a JSON object\n"},
      {R"({"errno":2,"data":"x"})", "kvseal: errno is 2\n"},
      {R"({"errno":-7})", "kvseal: errno is -7\n"},
      {R"({"data":null})", "kvseal: data is missing or not a string\n"},
      {R"({"data":""})", "kvseal: data is empty\n"},
      {R"({"data":"QQ=A"})", "kvseal: data is not valid Base64\n"},
      {SealConfigEnvelope(kConfig, "other key"),
       "kvseal: deciphered text is not a JSON object (wrong key?)\n"},
      {SealConfigEnvelope(R"({"appid":null})"), "kvseal: appid is missing or not a string\n"},
      // kvfetch reads the body only up to its first zero byte.
      {std::string(R"({"errno":0,)") + '\0' + SealConfigEnvelope(kConfig).substr(1),
       "kvseal: data is missing or not a string\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.input);
    const KvsealResult result = RunWith({"open"}, c.input);
    EXPECT_EQ(result.exitCode, kExitRefused);
    EXPECT_EQ(result.err, c.expected);
    EXPECT_EQ(result.out, "");
  }
}

TEST(KvsealRunTest, SealRefusesWhatIsNotAConfigurationUnlessForced) {
  const TextCase kCases[] = {
      // a configuration, and the reason it is refused
      {"", "not valid JSON"},
      {R"({"appid":"x")", "not valid JSON"},
      {R"({"appid":"x"} {})", "not valid JSON: Line 1, Column 15: Extra non-whitespace"},
      {R"({"appid":"x","appid":"y"})", "Duplicate key: 'appid'"},
      {std::string(3000, '['), "not valid JSON"},
      {R"(["appid"])", "configuration is not a JSON object"},
      {R"({"appId":"x"})", "appid is missing or not a string"},
      {R"({"appid":1})", "appid is missing or not a string"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.input.substr(0, 40));
    const KvsealResult refused = RunWith({"seal"}, c.input);
    EXPECT_EQ(refused.exitCode, kExitRefused);
    EXPECT_NE(refused.err.find(c.expected), std::string::npos) << refused.err;
    EXPECT_EQ(refused.err.find('\n'), refused.err.size() - 1) << "one line";
    EXPECT_EQ(refused.out, "");

    const KvsealResult forced = RunWith({"seal", "--force"}, c.input);
    EXPECT_EQ(forced.exitCode, kExitOk);
    EXPECT_EQ(forced.out, SealConfigEnvelope(c.input));
  }
  // Trailing white space, a final line break included, is sealed as given.
  EXPECT_EQ(RunWith({"seal"}, kConfig + "\r\n").out, SealConfigEnvelope(kConfig + "\r\n"));
  const KvsealResult unpadded = RunWith({"seal", "--padding", "none"}, kConfig);
  EXPECT_EQ(unpadded.exitCode, kExitRefused);
  EXPECT_NE(unpadded.err.find("whole 8-byte blocks (it has 29 bytes)"), std::string::npos);
}

TEST(KvsealRunTest, UsageErrors) {
  const Args kCases[] = {
      {},
      {"publish"},
      {"seal", "a.json", "b.json"},
      {"seal", "-o"},
      {"seal", "--padding", "pkcs7"},
      {"seal", "--key="},
      {"seal", "--force=yes"},
      {"seal", "--strip-padding"},
      {"open", "--padding", "zero"},
      {"open", "--force"},
      {"open", "-x"},
  };
  for (const Args& args : kCases) {
    SCOPED_TRACE(testing::PrintToString(args));
    const KvsealResult result = RunWith(args, kConfig);
    EXPECT_EQ(result.exitCode, kExitUsage);
    EXPECT_EQ(result.err.rfind("kvseal: ", 0), 0u) << result.err;
    EXPECT_EQ(result.out, "");
  }
  for (const Args& args : {Args{"--help"}, Args{"open", "-x", "-h"}, Args{"--version"}}) {
    SCOPED_TRACE(testing::PrintToString(args));
    const KvsealResult result = RunWith(args);
    EXPECT_EQ(result.exitCode, kExitOk);
    EXPECT_NE(result.out, "");
    EXPECT_EQ(result.err, "");
  }
  // After "--" an argument is a file name, even "--help".
  EXPECT_EQ(RunWith({"open", "--", "--help"}).exitCode, kExitIo);
}

// Files in and out, every padding, default and own key: open gives back the
// configuration with the filler kvfetch would pass on, or without it.
TEST(KvsealRunTest, FilesRoundTrip) {
  const CTempTree dir;
  const std::string config = R"({"appid":"zz","n":"16 bytes"})";           // 29 bytes
  const std::string whole = R"({"appid":"block"})" + std::string(7, ' ');  // 24 bytes
  const struct {
    std::string config;
    const char* padding;
    SealPadding sealPadding;
    std::string filler;
  } kCases[] = {
      {config, "pkcs5", SealPadding::kPkcs5, std::string(3, '\x03')},
      {whole, "pkcs5", SealPadding::kPkcs5, std::string(8, '\x08')},
      {config, "zero", SealPadding::kZero, std::string(3, '\0')},
      {whole, "zero", SealPadding::kZero, ""},
      {whole, "none", SealPadding::kNone, ""},
  };
  for (const auto& c : kCases) {
    for (const std::string& key : {std::string(kConfigKey), std::string("k")}) {
      SCOPED_TRACE(testing::Message() << c.config << " " << c.padding << " key " << key);
      const KvsealResult sealed =
          RunWith({"seal", dir.Write("config.json", c.config), "-o", dir.Path("envelope.json"),
                   "--key", key, "--padding", c.padding});
      ASSERT_EQ(sealed.exitCode, kExitOk) << sealed.err;
      EXPECT_EQ(sealed.out, "");
      EXPECT_EQ(dir.Read("envelope.json"), SealConfigEnvelope(c.config, key, c.sealPadding));

      const KvsealResult opened = RunWith({"open", "--key", key}, dir.Read("envelope.json"));
      EXPECT_EQ(opened.exitCode, kExitOk) << opened.err;
      EXPECT_EQ(opened.out, c.config + c.filler);
      const KvsealResult stripped = RunWith({"open", dir.Path("envelope.json"), "--strip-padding",
                                             "--key=" + key, "-o", dir.Path("config.out")});
      EXPECT_EQ(stripped.exitCode, kExitOk) << stripped.err;
      EXPECT_EQ(dir.Read("config.out"), c.config);
    }
  }
}

// A refused or failed command leaves an existing output file as it was and
// no temporary file beside it.
TEST(KvsealRunTest, NeverLeavesPartialOutput) {
  const CTempTree dir;
  const std::string oldEnvelope = SealConfigEnvelope(kConfig);
  const std::string out = dir.Write("out.json", oldEnvelope);
  const std::string badConfig = dir.Write("bad.json", R"({"appid":1})");
  const std::string refusedEnvelope = dir.Write("refused.json", R"({"errno":3})");
  std::filesystem::create_directory(dir.Path("folder"));
  const struct {
    Args args;
    int exitCode;
  } kCases[] = {
      {{"seal", badConfig, "-o", out}, kExitRefused},
      {{"open", refusedEnvelope, "-o", out}, kExitRefused},
      {{"seal", dir.Path("missing.json"), "-o", out}, kExitIo},
      {{"open", dir.Path("folder"), "-o", out}, kExitIo},
      // A folder is refused before anything is written.
      {{"seal", dir.Write("good.json", kConfig), "-o", dir.Path("folder")}, kExitIo},
      {{"seal", dir.Path("good.json"), "-o", dir.Path("no/such/dir.json")}, kExitIo},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const KvsealResult result = RunWith(c.args);
    EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(dir.Read("out.json"), oldEnvelope);
    EXPECT_TRUE(std::filesystem::is_directory(dir.Path("folder")));
    EXPECT_EQ(dir.Names().size(), 5u) << testing::PrintToString(dir.Names());
  }
  // Success replaces the file whole.
  EXPECT_EQ(RunWith({"seal", dir.Path("good.json"), "-o", out, "--padding", "zero"}).exitCode,
            kExitOk);
  EXPECT_EQ(dir.Read("out.json"), SealConfigEnvelope(kConfig, kConfigKey, SealPadding::kZero));
  EXPECT_EQ(dir.Names().size(), 5u);
}

// A standard input whose descriptor is closed.
class CClosedInput final : public std::streambuf {
  int_type underflow() override { throw std::system_error(EBADF, std::generic_category()); }
};

// Limits, unreadable inputs and every kind of output file: the exit code, a
// part of the one-line message, and what became of the output.
TEST(KvsealRunTest, InputLimitsAndOutputKinds) {
  namespace fs = std::filesystem;
  const CTempTree dir;
  const std::string config = dir.Write("config.json", kConfig);
  const std::string envelope = SealConfigEnvelope(kConfig);
  const std::string big(kMaxResponseBodyBytes + 1, ' ');
  fs::create_directory(dir.Path("folder"));
  const auto replaced = [&](const std::string& name) { return dir.Read(name) == envelope; };
#ifdef _WIN32
  const auto attributes = [&](const char* name) {
    return ::GetFileAttributesW(dir.At(name).c_str());
  };
#else
  const std::string longName(255, 'n');
#endif
  struct Case {
    Args args;
    int exitCode;
    const char* message;                     // on the first error line; "" for none
    std::function<bool()> outputAsExpected;  // null: nothing to check
  };
  std::vector<Case> cases = {
      {{"seal", dir.Path("folder")}, kExitIo, "Is a directory", nullptr},
      {{"seal", dir.Write("big", big)}, kExitRefused, "is larger than 16 MiB", nullptr},
      {{"seal", "--force", dir.Write("13MiB", big.substr(0, 13 << 20))},
       kExitRefused,
       "sealed envelope would be larger than 16 MiB",
       nullptr},
      {{"seal", config, "--key", std::string(73, 'k')},
       kExitUsage,
       "the key has 73 bytes; Blowfish uses at most 72",
       nullptr},
      {{"seal", config, "--key", std::string(72, 'k')}, kExitOk, "", nullptr},
      {{"seal", config, "-o", dir.Path("folder")},
       kExitIo,
       "Is a directory",
       [&] { return fs::is_directory(dir.Path("folder")); }},
      {{"seal", config, "-o", dir.Path("hard")},
       kExitIo,
       "it has 2 hard links, and replacing it would cut the others off",
       [&] { return dir.Read("hard") == "linked" && dir.Read("linked") == "linked"; }},
#ifdef _WIN32
      {{"seal", config, "-o", dir.Path("hidden")},
       kExitOk,
       "",  // keeps its attributes
       [&] { return replaced("hidden") && (attributes("hidden") & FILE_ATTRIBUTE_HIDDEN); }},
      {{"seal", config, "-o", dir.Path("readonly")},
       kExitIo,
       "denied",  // the attribute is there to prevent just that
       [&] {
         return dir.Read("readonly") == "old" && (attributes("readonly") & FILE_ATTRIBUTE_READONLY);
       }},
#else
      {{"seal", config, "-o", dir.Path("new")},
       kExitOk,
       "",  // the default mode
       [&] { return fs::status(dir.Path("new")).permissions() == fs::perms(0644); }},
      {{"seal", config, "-o", dir.Write("secret", "old")},
       kExitOk,
       "",  // keeps its 0600
       [&] {
         return replaced("secret") &&
                fs::status(dir.Path("secret")).permissions() == fs::perms(0600);
       }},
      {{"seal", config, "-o", dir.Path("link")},
       kExitOk,
       "",  // the link's target is replaced
       [&] { return fs::is_symlink(dir.Path("link")) && replaced("target"); }},
      {{"seal", config, "-o", dir.Path("null")},
       kExitOk,
       "",  // a device: written in place
       [] { return fs::is_character_file("/dev/null"); }},
      {{"seal", config, "-o", dir.Path("full")},
       kExitIo,
       "No space left",
       [] { return fs::is_character_file("/dev/full"); }},
      {{"seal", config, "-o", dir.Path(longName)}, kExitOk, "", [&] { return replaced(longName); }},
#endif
  };
  dir.Write("linked", "linked");
  fs::create_hard_link(dir.At("linked"), dir.At("hard"));
#ifdef _WIN32
  for (const auto& [name, attribute] : {std::pair{"hidden", FILE_ATTRIBUTE_HIDDEN},
                                        std::pair{"readonly", FILE_ATTRIBUTE_READONLY}}) {
    dir.Write(name, "old");
    ::SetFileAttributesW(dir.At(name).c_str(), attribute);
  }
#else
  const mode_t umaskBefore = ::umask(022);
  ::chmod(dir.Path("secret").c_str(), 0600);
  fs::create_symlink("target", dir.Path("link"));
  fs::create_symlink("/dev/null", dir.Path("null"));
  fs::create_symlink("/dev/full", dir.Path("full"));
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    const KvsealResult result = RunWith(c.args);
    EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
    EXPECT_LT(result.err.find(c.message), result.err.find('\n')) << result.err;
    EXPECT_EQ(result.err.find('\r'), std::string::npos) << result.err;
    if (c.outputAsExpected) {
      EXPECT_TRUE(c.outputAsExpected());
    }
  }
  EXPECT_EQ(RunWith({"seal"}, big).err,
            "kvseal: standard input is larger than 16 MiB, the most kvseal reads\n");
  CClosedInput closed;
  std::istream closedInput(&closed);
  EXPECT_EQ(RunKvseal({"seal"}, closedInput).err,
            "kvseal: cannot read standard input: " + std::generic_category().message(EBADF) + "\n");
  // No temporary file is left behind.
  for (const std::string& name : dir.Names()) EXPECT_EQ(name.find(".tmp"), std::string::npos);
#ifdef _WIN32
  ::SetFileAttributesW(dir.At("readonly").c_str(), FILE_ATTRIBUTE_NORMAL);  // to be removable
#else
  ::umask(umaskBefore);
#endif
}

TEST(KvsealRunTest, StripFiller) {
  const struct {
    std::string text;
    std::string stripped;
  } kCases[] = {
      {"{}\x02\x02", "{}"},
      {std::string(8, '\x08'), ""},
      {"{}" + std::string(6, '\0'), "{}"},
      // At most 7 zero bytes are filler; a whole block of them is not.
      {"{}" + std::string(9, '\0'), "{}" + std::string(2, '\0')},
      // Not PKCS#5: counts that disagree, 0, or more than a block.
      {"{}\x01\x02", "{}\x01\x02"},
      {"{}\x03\x03", "{}\x03\x03"},
      {"{}" + std::string(9, '\x09'), "{}" + std::string(9, '\x09')},
      {"{}", "{}"},
      {"", ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    EXPECT_EQ(StripFiller(c.text), c.stripped);
  }
}

}  // namespace
