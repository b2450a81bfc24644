// Replacing the network library between its publisher check and its load:
// a swapper thread keeps putting an untrusted library where the trusted one
// lies while the loader runs in a probe program, over and over. Whatever
// the timing, the untrusted library must never be the one loaded.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>

#include "common/test_support.h"
#include "stress_scale.h"
#include "win/unique_handle.h"

namespace {

namespace fs = std::filesystem;

struct SwapCounts {
  std::atomic<int> attempts{0};
  std::atomic<int> replaced{0};  // the untrusted file was put in place
  std::atomic<int> blocked{0};   // refused: the loader held the file
  std::atomic<int> restores{0};
};

enum class SwapMethod {
  kOverwrite,      // CopyFileW over the file in place
  kRenameReplace,  // a fresh copy renamed over it with MoveFileExW
  kWriterFirst,    // open for writing (which a loader's pin cannot share),
                   // close, and overwrite right after
};

bool IsSharingRefusal(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
         error == ERROR_LOCK_VIOLATION;
}

class CSwapper {
 public:
  CSwapper(const fs::path& target, const fs::path& trusted, const fs::path& unsignedFile,
           const fs::path& unlistedFile, const fs::path& scratch)
      : m_target(target),
        m_trusted(trusted),
        m_untrusted{unsignedFile, unlistedFile},
        m_scratch(scratch) {
    m_thread = std::thread([this] { Run(); });
  }
  ~CSwapper() { Stop(); }
  CSwapper(const CSwapper&) = delete;
  CSwapper& operator=(const CSwapper&) = delete;

  void Stop() {
    m_stop.store(true);
    if (m_thread.joinable()) m_thread.join();
  }
  const SwapCounts& Counts() const { return m_counts; }

 private:
  void Run() {
    for (unsigned round = 0; !m_stop.load(); ++round) {
      const SwapMethod method = static_cast<SwapMethod>(round % 3);
      ++m_counts.attempts;
      const DWORD error = Put(m_untrusted[(round / 3) % 2], method);
      if (error == ERROR_SUCCESS) {
        ++m_counts.replaced;
      } else if (IsSharingRefusal(error)) {
        ++m_counts.blocked;
      }
      ::Sleep(round % 4);
      // Put the trusted one back, however long the loader keeps it.
      while (!m_stop.load() && Put(m_trusted, SwapMethod::kRenameReplace) != ERROR_SUCCESS) {
        ::Sleep(1);
      }
      ++m_counts.restores;
      ::Sleep(round % 3);
    }
  }

  DWORD Put(const fs::path& from, SwapMethod method) {
    switch (method) {
      case SwapMethod::kOverwrite:
        return ::CopyFileW(from.c_str(), m_target.c_str(), FALSE) ? ERROR_SUCCESS
                                                                  : ::GetLastError();
      case SwapMethod::kRenameReplace:
        if (!::CopyFileW(from.c_str(), m_scratch.c_str(), FALSE)) return ::GetLastError();
        return ::MoveFileExW(m_scratch.c_str(), m_target.c_str(), MOVEFILE_REPLACE_EXISTING)
                   ? ERROR_SUCCESS
                   : ::GetLastError();
      case SwapMethod::kWriterFirst: {
        CUniqueFile writer = CUniqueFile(::CreateFileW(
            m_target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!writer) return ::GetLastError();
        ::Sleep(1);
        writer.Reset();
        return Put(from, SwapMethod::kOverwrite);
      }
    }
    return ERROR_INVALID_PARAMETER;
  }

  const fs::path m_target;
  const fs::path m_trusted;
  const fs::path m_untrusted[2];
  const fs::path m_scratch;
  SwapCounts m_counts;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

// The probe's "Wirelink=" value: "-", or "<variant>|<init calls>|<path>".
std::string LoadedWirelink(const std::string& probeOut) {
  std::istringstream lines(probeOut);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("Wirelink=", 0) == 0) return line.substr(9);
  }
  return "?";
}

TEST(SwapRaceStressTest, UntrustedReplacementIsNeverLoaded) {
  const int runs = kvtest::StressFigure(24, 120);
  kvtest::CTempTree tree;
  const fs::path probe = tree.Copy(kvtest::FromBuildPath(KV_NET_PROBE_EXE), "a/b/probe.exe");
  const fs::path trusted = tree.Copy(kvtest::FromBuildPath(KV_STRESS_TRUSTED), "stash/trusted.dll");
  const fs::path unsignedFile =
      tree.Copy(kvtest::FromBuildPath(KV_STRESS_EVIL_UNSIGNED), "stash/evil-unsigned.dll");
  const fs::path unlistedFile =
      tree.Copy(kvtest::FromBuildPath(KV_STRESS_EVIL_UNLISTED), "stash/evil-unlisted.dll");
  const fs::path target = tree.Copy(trusted, "Wirelink.dll");

  int loadedTrusted = 0;
  int refused = 0;
  int loadedUntrusted = 0;
  int other = 0;
  CSwapper swapper(target, trusted, unsignedFile, unlistedFile, tree.Root() / "swap.tmp");
  for (int run = 0; run < runs; ++run) {
    const kvtest::ProcessResult result = kvtest::RunProcess(probe, L"", {}, 60000);
    ASSERT_FALSE(result.timedOut);
    ASSERT_EQ(result.exitCode, 0u) << result.out;
    const std::string loaded = LoadedWirelink(result.out);
    if (loaded.rfind("full|", 0) == 0) {
      ++loadedTrusted;
    } else if (loaded.rfind("evil|", 0) == 0) {
      ++loadedUntrusted;
      ADD_FAILURE() << "run " << run << " loaded the untrusted library: " << loaded;
    } else if (loaded == "-") {
      ++refused;
    } else {
      ++other;
      ADD_FAILURE() << "run " << run << ": " << result.out;
    }
  }
  swapper.Stop();

  const SwapCounts& swaps = swapper.Counts();
  std::printf(
      "[ swap     ] %d runs: %d trusted loads, %d refused, %d untrusted loads; "
      "%d swap attempts, %d replacements, %d blocked, %d restores\n",
      runs, loadedTrusted, refused, loadedUntrusted, swaps.attempts.load(), swaps.replaced.load(),
      swaps.blocked.load(), swaps.restores.load());
  EXPECT_EQ(loadedUntrusted, 0);
  EXPECT_EQ(other, 0);
  EXPECT_EQ(loadedTrusted + refused, runs);
}

}  // namespace
