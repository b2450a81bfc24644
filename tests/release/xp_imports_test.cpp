// Every shipped binary starts on Windows XP SP3: it imports nothing that
// XP's system DLLs lack, and its header asks for no newer system.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <fstream>
#include <map>
#include <set>
#include <string>

#include "app/pe_imports.h"
#include "common/test_support.h"
#include "shipped_files.h"

namespace {

std::string Lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// tests/data/xp_missing_exports.txt: DLL name (lower case) -> export names.
std::map<std::string, std::set<std::string>> ReadMissingExports() {
  std::map<std::string, std::set<std::string>> missing;
  std::ifstream file(kvtest::FromBuildPath(KV_XP_MISSING_EXPORTS));
  std::string line, dll;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      dll = Lowered(line.substr(1, line.size() - 2));
    } else {
      missing[dll].insert(line);
    }
  }
  return missing;
}

// The system DLLs a shipped binary may bind at load time, all part of XP
// SP3 (WinHTTP 5.1 since XP SP1).
bool IsXpSystemDll(const std::string& name) {
  static const std::set<std::string> kDlls = {"kernel32.dll", "msvcrt.dll",  "advapi32.dll",
                                              "user32.dll",   "shlwapi.dll", "wintrust.dll",
                                              "crypt32.dll",  "winhttp.dll", "ws2_32.dll"};
  return kDlls.count(Lowered(name)) != 0;
}

struct HeaderVersions {
  WORD osMajor = 0, osMinor = 0, subsystemMajor = 0, subsystemMinor = 0;
};

bool ReadHeaderVersions(const std::string& path, HeaderVersions* versions) {
  std::ifstream file(kvtest::FromBuildPath(path.c_str()), std::ios::binary);
  IMAGE_DOS_HEADER dos{};
  IMAGE_NT_HEADERS32 nt{};
  if (!file.read(reinterpret_cast<char*>(&dos), sizeof dos)) return false;
  if (dos.e_magic != IMAGE_DOS_SIGNATURE) return false;
  if (!file.seekg(dos.e_lfanew).read(reinterpret_cast<char*>(&nt), sizeof nt)) return false;
  if (nt.Signature != IMAGE_NT_SIGNATURE) return false;
  const IMAGE_OPTIONAL_HEADER32& optional = nt.OptionalHeader;
  *versions = {optional.MajorOperatingSystemVersion, optional.MinorOperatingSystemVersion,
               optional.MajorSubsystemVersion, optional.MinorSubsystemVersion};
  return true;
}

bool NewerThanXp(WORD major, WORD minor) { return major > 5 || (major == 5 && minor > 1); }

TEST(XpImportsTest, TheListOfMissingExportsIsRead) {
  const auto missing = ReadMissingExports();
  ASSERT_EQ(missing.count("kernel32.dll"), 1u);
  EXPECT_EQ(missing.at("kernel32.dll").count("GetTickCount64"), 1u);
  EXPECT_GT(missing.at("kernel32.dll").size(), 200u);
}

TEST(XpImportsTest, ShippedBinariesImportOnlyWhatXpExports) {
  const auto missing = ReadMissingExports();
  for (const kvtest::ShippedFile& file : kvtest::ShippedFiles()) {
    SCOPED_TRACE(file.relative);
    const auto dlls = ReadImports32(kvtest::FromBuildPath(kvtest::ShippedPath(file).c_str()));
    ASSERT_TRUE(dlls.has_value());
    for (const ImportedDll& dll : *dlls) {
      SCOPED_TRACE(dll.name);
      // kvfetch binds the decoding library, which is ours to ship.
      if (dll.name == "QXSDK2.dll") continue;
      EXPECT_TRUE(IsXpSystemDll(dll.name));
      const auto unavailable = missing.find(Lowered(dll.name));
      if (unavailable == missing.end()) continue;
      for (const ImportedFunction& function : dll.functions) {
        EXPECT_EQ(unavailable->second.count(function.name), 0u) << function.name;
      }
    }
  }
}

TEST(XpImportsTest, HeadersAskForNoNewerSystemThanXp) {
  for (const kvtest::ShippedFile& file : kvtest::ShippedFiles()) {
    SCOPED_TRACE(file.relative);
    HeaderVersions versions;
    ASSERT_TRUE(ReadHeaderVersions(kvtest::ShippedPath(file), &versions));
    EXPECT_FALSE(NewerThanXp(versions.osMajor, versions.osMinor))
        << versions.osMajor << "." << versions.osMinor;
    EXPECT_FALSE(NewerThanXp(versions.subsystemMajor, versions.subsystemMinor))
        << versions.subsystemMajor << "." << versions.subsystemMinor;
  }
}

}  // namespace
