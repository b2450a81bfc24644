#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/test_support.h"
#include "net/net_library.h"
#include "win/unique_handle.h"
#include "support/utf8.h"

namespace {

namespace fs = std::filesystem;

// Signed and unsigned copies of the fake library variants, and the probe.
fs::path Fake(const char* name) { return kvtest::FromBuildPath(KV_NET_FAKES_DIR) / name; }
fs::path Probe() { return kvtest::FromBuildPath(KV_NET_PROBE_EXE); }

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The probe's "key=value" lines; paths lower-cased, as Windows compares them.
std::map<std::string, std::string> RunProbe(const fs::path& probe) {
  const kvtest::ProcessResult run = kvtest::RunProcess(probe, L"", {}, 60000);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0u);
  std::map<std::string, std::string> lines;
  std::istringstream in(run.out);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t equals = line.find('=');
    if (equals != std::string::npos) lines[line.substr(0, equals)] = Lower(line.substr(equals + 1));
  }
  return lines;
}

std::string Loaded(const char* variant, const fs::path& file) {
  return Lower(std::string(variant) + "|1|" + Utf8(file.wstring()));
}

TEST(NetLibraryTest, InitPicksTheFirstTrustedCandidateTwoLevelsUp) {
  struct Expected {
    const char* init;
    const char* factory;
    const char* wirelink;  // variant loaded from ROOT, or nullptr for none
    const char* wirecore;
  };
  struct Case {
    const char* name;
    std::vector<kvtest::Placement> files;  // fakes by name
    Expected expected;
  };
  const Case cases[] = {
      // Wirecore is only a fallback: not looked at once Wirelink loads.
      {"both trusted",
       {{"full-trusted.dll", "Wirelink.dll"}, {"nullinit-trusted.dll", "Wirecore.dll"}},
       {"1", "1", "full", nullptr}},
      {"only wirecore", {{"full-trusted.dll", "Wirecore.dll"}}, {"1", "1", nullptr, "full"}},
      {"unsigned wirelink",
       {{"full-unsigned.dll", "Wirelink.dll"}, {"full-trusted.dll", "Wirecore.dll"}},
       {"1", "1", nullptr, "full"}},
      {"unlisted wirelink",
       {{"full-unlisted.dll", "Wirelink.dll"}, {"full-trusted.dll", "Wirecore.dll"}},
       {"1", "1", nullptr, "full"}},
      {"unsigned only", {{"full-unsigned.dll", "Wirelink.dll"}}, {"0", "0", nullptr, nullptr}},
      // A loaded library that fails stays the only one: Wirecore is never loaded.
      {"wirelink without factory",
       {{"nullinit-trusted.dll", "Wirelink.dll"}, {"full-trusted.dll", "Wirecore.dll"}},
       {"0", "0", "nullinit", nullptr}},
      // No HttpUninit: not usable, but the factory is kept for requests.
      {"wirelink without uninit",
       {{"nouninit-trusted.dll", "Wirelink.dll"}, {"full-trusted.dll", "Wirecore.dll"}},
       {"0", "1", "nouninit", nullptr}},
      // Only two levels up counts, not the program's folder or the one above.
      {"wrong levels",
       {{"full-trusted.dll", "a/Wirelink.dll"},
        {"full-trusted.dll", "a/b/Wirelink.dll"},
        {"full-trusted.dll", "a/b/Wirecore.dll"},
        {"full-trusted.dll", "a/b/c/Wirelink.dll"}},
       {"0", "0", nullptr, nullptr}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    kvtest::CTempTree tree;
    const fs::path probe = tree.Copy(Probe(), "a/b/probe.exe");
    for (const kvtest::Placement& file : c.files) tree.Copy(Fake(file.file), file.relative);

    auto lines = RunProbe(probe);

    EXPECT_EQ(lines["init"], c.expected.init);
    // A second Init loads nothing more and does not call HttpInit again.
    EXPECT_EQ(lines["again"], c.expected.init);
    EXPECT_EQ(lines["factory"], c.expected.factory);
    EXPECT_EQ(lines["Wirelink"], c.expected.wirelink
                                     ? Loaded(c.expected.wirelink, tree.Root() / "Wirelink.dll")
                                     : "-");
    EXPECT_EQ(lines["Wirecore"], c.expected.wirecore
                                     ? Loaded(c.expected.wirecore, tree.Root() / "Wirecore.dll")
                                     : "-");
  }
}

// Long paths need the \\?\ form to be created at all.
std::wstring Extended(const fs::path& path) { return L"\\\\?\\" + path.wstring(); }

void MakeDirectories(const fs::path& root, const std::vector<std::wstring>& names) {
  fs::path dir = root;
  for (const std::wstring& name : names) {
    dir /= name;
    ASSERT_TRUE(::CreateDirectoryW(Extended(dir).c_str(), nullptr) ||
                ::GetLastError() == ERROR_ALREADY_EXISTS);
  }
}

void CopyLong(const fs::path& from, const fs::path& to) {
  ASSERT_TRUE(::CopyFileW(Extended(from).c_str(), Extended(to).c_str(), FALSE)) << ::GetLastError();
}

void DeleteTree(const fs::path& path) {
  std::error_code ignored;
  fs::remove_all(Extended(path), ignored);
}

// CreateProcessW on a thread of its own, given up after `allowanceMs`: for
// a program path past MAX_PATH, Wine either refuses at once or, for some
// callers, never returns. The call's state lives as long as its thread.
std::optional<PROCESS_INFORMATION> StartWithin(const std::wstring& application,
                                               const std::wstring& commandLine,
                                               const fs::path& folder, HANDLE output,
                                               DWORD allowanceMs) {
  struct Call {
    std::wstring application, commandLine, folder;
    STARTUPINFOW startup = {};
    std::promise<std::optional<PROCESS_INFORMATION>> started;
  };
  auto call = std::make_shared<Call>();
  call->application = application;
  call->commandLine = commandLine;
  call->folder = folder.wstring();
  call->startup.cb = sizeof(call->startup);
  call->startup.dwFlags = STARTF_USESTDHANDLES;
  call->startup.hStdOutput = output;
  std::future<std::optional<PROCESS_INFORMATION>> started = call->started.get_future();
  std::thread([call] {
    PROCESS_INFORMATION process = {};
    const bool ok =
        ::CreateProcessW(call->application.c_str(), call->commandLine.data(), nullptr, nullptr,
                         TRUE, 0, nullptr, call->folder.c_str(), &call->startup, &process);
    call->started.set_value(ok ? std::optional(process) : std::nullopt);
  }).detach();
  if (started.wait_for(std::chrono::milliseconds(allowanceMs)) != std::future_status::ready) {
    return std::nullopt;
  }
  return started.get();
}

// Starts `exe` with `folder` as its working folder (Wine cannot enter a
// folder whose path is over-long) and returns its output, read from a file;
// nothing when it could not be started or did not finish.
std::optional<std::string> RunFromFolder(const fs::path& exe, const fs::path& folder) {
  const fs::path outPath = folder / L"probe-out.txt";
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  CUniqueFile out = CUniqueFile(::CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                              &inherit,  // the child writes to it
                                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!out) return std::nullopt;
  // The \\?\ form lets CreateProcessW take a program path past MAX_PATH.
  const std::wstring application =
      exe.wstring().size() < MAX_PATH ? exe.wstring() : L"\\\\?\\" + exe.wstring();
  const std::optional<PROCESS_INFORMATION> process = StartWithin(
      application, L"\"" + exe.wstring() + L"\"", folder, out.Get(), kvtest::ScaledMs(15000));
  if (!process) return std::nullopt;
  CUniqueHandle processHandle(process->hProcess);
  CUniqueHandle threadHandle(process->hThread);
  out.Reset();
  if (::WaitForSingleObject(processHandle.Get(), kvtest::ScaledMs(60000)) != WAIT_OBJECT_0) {
    ::TerminateProcess(processHandle.Get(), 1);
    return std::nullopt;
  }
  std::ifstream file(outPath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Folder names that make ROOT\...\ exactly `length` units long.
std::vector<std::wstring> PaddingFor(size_t rootLength, size_t length) {
  std::vector<std::wstring> parts;
  size_t used = rootLength;
  while (used < length) {
    const size_t room = length - used - 1;  // one unit goes to the separator
    // Never leave a single unit: a folder needs a separator and a name.
    const size_t take = room <= 100 ? room : (room - 100 >= 2 ? 100 : 90);
    parts.emplace_back(take, L'd');
    used += take + 1;
  }
  return parts;
}

// Runs the probe at <folder>\\a\\b\\p.exe, with a trusted Wirelink.dll in
// <folder>, where <folder> is exactly `libraryFolderLength` units long.
// Nothing when the platform could not start it.
std::optional<std::string> RunProbeBelowFolderOfLength(size_t libraryFolderLength) {
  kvtest::CTempTree tree;
  const size_t rootLength = tree.Root().wstring().size();
  EXPECT_LT(rootLength + 2, libraryFolderLength);
  const std::vector<std::wstring> padding = PaddingFor(rootLength, libraryFolderLength);
  fs::path library = tree.Root();
  for (const std::wstring& part : padding) library /= part;
  EXPECT_EQ(library.wstring().size(), libraryFolderLength);
  MakeDirectories(tree.Root(), padding);
  MakeDirectories(library, {L"a", L"b"});
  const fs::path probe = library / L"a" / L"b" / L"p.exe";
  CopyLong(Probe(), probe);
  CopyLong(Fake("full-trusted.dll"), library / L"Wirelink.dll");

  std::optional<std::string> out = RunFromFolder(probe, tree.Root());
  DeleteTree(tree.Root() / padding.front());
  return out;
}

constexpr const char* kNothingLoaded = "init=0\nagain=0\nfactory=0\nWirelink=-\nWirecore=-\n";

TEST(NetLibraryTest, CandidatePathThatDoesNotFitLoadsNothing) {
  struct Case {
    const char* name;
    // The program's path is 10 units longer, the candidate's 13.
    size_t libraryFolderLength;
    bool loads;
  };
  const Case cases[] = {
      {"candidate just fits", 246, true},
      {"candidate one unit too long", 247, false},
      {"candidate too long, program fits", 249, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<std::string> out = RunProbeBelowFolderOfLength(c.libraryFolderLength);
    ASSERT_TRUE(out.has_value());
    if (c.loads) {
      EXPECT_NE(out->find("init=1\n"), std::string::npos) << *out;
    } else {
      EXPECT_EQ(*out, kNothingLoaded);
    }
  }
}

TEST(NetLibraryTest, ProgramPathThatDoesNotFitLoadsNothing) {
  const std::optional<std::string> out = RunProbeBelowFolderOfLength(300);
  // Wine refuses to start a program whose path is past MAX_PATH, or never
  // returns from trying.
  if (!out) GTEST_SKIP() << "the platform cannot start a program at so long a path";
  EXPECT_EQ(*out, kNothingLoaded);
}

// Maps a free drive letter to a folder for the life of the object.
class CDriveMapping {
 public:
  explicit CDriveMapping(const fs::path& target) {
    const DWORD used = ::GetLogicalDrives();
    for (wchar_t letter = L'P'; letter <= L'Y'; ++letter) {
      if (used & (1u << (letter - L'A'))) continue;
      const std::wstring drive = {letter, L':'};
      if (::DefineDosDeviceW(0, drive.c_str(), target.wstring().c_str())) {
        m_drive = drive;
        return;
      }
    }
  }
  ~CDriveMapping() {
    if (!m_drive.empty()) ::DefineDosDeviceW(DDD_REMOVE_DEFINITION, m_drive.c_str(), nullptr);
  }
  CDriveMapping(const CDriveMapping&) = delete;
  CDriveMapping& operator=(const CDriveMapping&) = delete;

  const std::wstring& Drive() const { return m_drive; }

 private:
  std::wstring m_drive;
};

TEST(NetLibraryTest, ProgramNearADriveRootSearchesTheRoot) {
  kvtest::CTempTree tree;
  tree.Copy(Probe(), "x/probe.exe");
  tree.Copy(Fake("full-trusted.dll"), "Wirelink.dll");
  CDriveMapping mapping(tree.Root());
  if (mapping.Drive().empty()) GTEST_SKIP() << "no drive letter could be mapped";
  const fs::path drive = mapping.Drive() + L"\\";
  if (!fs::exists(drive / L"x" / L"probe.exe")) GTEST_SKIP() << "mapped drive not visible";

  // X:\x\probe.exe: the second and third removals stop at X:\.
  auto lines = RunProbe(drive / L"x" / L"probe.exe");

  EXPECT_EQ(lines["init"], "1");
  EXPECT_EQ(lines["Wirelink"], Loaded("full", drive / L"Wirelink.dll"));
}

TEST(NetLibraryTest, InstanceIsOneHolderAcrossThreads) {
  constexpr int kThreads = 8;
  std::atomic<bool> go{false};
  std::vector<NetLibrary*> seen(kThreads, nullptr);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      while (!go.load()) std::this_thread::yield();
      seen[i] = &NetLibrary::Instance();
    });
  }
  go.store(true);
  for (std::thread& thread : threads) thread.join();

  for (NetLibrary* holder : seen) EXPECT_EQ(holder, &NetLibrary::Instance());
  // Instance alone never loads anything.
  EXPECT_EQ(NetLibrary::Instance().Factory(), nullptr);
}

}  // namespace
