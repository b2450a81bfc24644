// The stand-in network library in-process, with a thousand requests released
// while they are still under way: nothing may report once unregistered, and
// the process must end up with the handles and threads it started with.
#include <gtest/gtest.h>
#include <windows.h>
// Needs <windows.h> first.
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "common/test_support.h"
#include "common/wirelink_standin.h"
#include "net/http_task.h"
#include "stress_scale.h"
#include "win/unique_handle.h"

namespace {

using kvtest::CLoopbackHttpServer;

// Workers of released tasks wind down on their own; a stalled one is bounded
// by the stand-in's 20 s per phase, so this only runs out on a real leak.
constexpr auto kSettleLimit = std::chrono::seconds(150);

// Counts reports, and those that came after SetCallback(nullptr) returned.
class CLateReportRecorder final : public IHttpTaskCallback {
 public:
  void OnTaskResult(IHttpTask* /*task*/, const TaskResult* /*result*/) override {
    ++m_reports;
    if (m_unregistered.load()) ++m_late;
  }
  void MarkUnregistered() { m_unregistered.store(true); }
  int Reports() const { return m_reports.load(); }
  int Late() const { return m_late.load(); }

 private:
  std::atomic<bool> m_unregistered{false};
  std::atomic<int> m_reports{0};
  std::atomic<int> m_late{0};
};

// The system's handle table, as NtQuerySystemInformation lists it.
struct SystemHandleEntry {
  ULONG ownerProcessId;
  BYTE objectType;
  BYTE flags;
  USHORT value;
  PVOID object;
  ACCESS_MASK access;
};
struct SystemHandleTable {
  ULONG count;
  SystemHandleEntry entries[1];
};
constexpr ULONG kSystemHandleInformation = 16;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);

// Counted from the system's handle table: Wine answers GetProcessHandleCount
// with 0, which would hide any leak.
DWORD HandleCountFromSystemTable() {
  using QueryFunc = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
  const auto query = reinterpret_cast<QueryFunc>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (!query) return 0;
  std::vector<unsigned char> buffer(1 << 16);
  LONG status = kStatusInfoLengthMismatch;
  while (status == kStatusInfoLengthMismatch && buffer.size() < (1u << 28)) {
    ULONG needed = 0;
    status =
        query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status == kStatusInfoLengthMismatch)
      buffer.resize(std::max<size_t>(needed, buffer.size() * 2));
  }
  if (status != 0) return 0;
  const auto* table = reinterpret_cast<const SystemHandleTable*>(buffer.data());
  const DWORD self = ::GetCurrentProcessId();
  DWORD count = 0;
  for (ULONG i = 0; i < table->count; ++i) {
    if (table->entries[i].ownerProcessId == self) ++count;
  }
  return count;
}

DWORD HandleCount() {
  DWORD count = 0;
  if (::GetProcessHandleCount(::GetCurrentProcess(), &count) && count != 0) return count;
  return HandleCountFromSystemTable();
}

DWORD ThreadCount() {
  CUniqueHandle snapshot =
      CUniqueHandle::FromFile(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snapshot) return 0;
  const DWORD self = ::GetCurrentProcessId();
  DWORD count = 0;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Thread32First(snapshot.Get(), &entry); more;
       more = ::Thread32Next(snapshot.Get(), &entry)) {
    if (entry.th32OwnerProcessID == self) ++count;
  }
  return count;
}

struct Counts {
  DWORD handles;
  DWORD threads;
};

Counts Now() { return {HandleCount(), ThreadCount()}; }

// Polls until both counts are back at `baseline` or below, or the limit.
Counts Settle(const Counts& baseline) {
  const auto deadline = std::chrono::steady_clock::now() + kSettleLimit;
  Counts now = Now();
  while ((now.handles > baseline.handles || now.threads > baseline.threads) &&
         std::chrono::steady_clock::now() < deadline) {
    ::Sleep(200);
    now = Now();
  }
  return now;
}

// Starts `count` tasks against one server and releases each one mid-flight:
// at once, or after the request had a few moments to get going.
void ReleaseBatch(RequestFactory* factory, int count, bool hang,
                  std::vector<std::unique_ptr<CLateReportRecorder>>& recorders, int& notStarted) {
  constexpr DWORD kReleaseDelaysMs[] = {0, 0, 1, 3, 10};
  // A hanging server holds its first exchange open and leaves the rest
  // waiting to connect; its going ends them all.
  CLoopbackHttpServer server({200, "{\"errno\":0,\"data\":\"\"}", hang});
  const std::wstring url = kvtest::ServiceUrlFor(server.Port());
  for (int i = 0; i < count; ++i) {
    recorders.push_back(std::make_unique<CLateReportRecorder>());
    CLateReportRecorder& recorder = *recorders.back();
    IHttpTask* task = factory->CreateTask();
    ASSERT_NE(task, nullptr);
    task->SetOption("ungzip", 0);
    task->SetOption("gzip", 0);
    task->SetCallback(&recorder);
    if (task->Start(0, url.c_str()) == 0) ++notStarted;
    ::Sleep(kReleaseDelaysMs[i % 5]);
    task->SetCallback(nullptr);
    recorder.MarkUnregistered();
    task->Release();
  }
}

TEST(StandInReleaseStressTest, ReleasedMidFlightLeavesNothingBehind) {
  const int tasks = kvtest::StressFigure(200, 1000);
  // Tasks of a batch share one server, half of them one that hangs.
  constexpr int kBatch = 100;

  RequestFactory* factory = kvtest::StandInFactory();
  ASSERT_NE(factory, nullptr);
  std::vector<std::unique_ptr<CLateReportRecorder>> recorders;
  int notStarted = 0;
  // A small run of the same first: WinHTTP, Winsock and the thread pool set
  // up what they keep for the life of the process before the baseline.
  ReleaseBatch(factory, 10, true, recorders, notStarted);
  ReleaseBatch(factory, 10, false, recorders, notStarted);
  const Counts baseline = Settle(Now());
  ASSERT_NE(baseline.handles, 0u) << "no way to count this process's handles";
  ASSERT_NE(baseline.threads, 0u) << "no way to count this process's threads";

  const size_t warmUps = recorders.size();
  const auto start = std::chrono::steady_clock::now();
  for (int first = 0; first < tasks; first += kBatch) {
    ReleaseBatch(factory, std::min(kBatch, tasks - first), (first / kBatch) % 2 == 0, recorders,
                 notStarted);
  }
  const auto released = std::chrono::steady_clock::now();
  const Counts peak = Now();
  const Counts after = Settle(baseline);
  const auto settled = std::chrono::steady_clock::now();

  int reports = 0;
  int late = 0;
  for (size_t i = 0; i < recorders.size(); ++i) {
    if (i >= warmUps) reports += recorders[i]->Reports();
    late += recorders[i]->Late();
  }
  using std::chrono::duration_cast;
  using std::chrono::milliseconds;
  std::printf(
      "[ release  ] %d tasks released mid-flight in %lld ms, settled %lld ms later; "
      "%d reported before unregistering, %d late; handles %lu -> %lu (peak %lu), "
      "threads %lu -> %lu (peak %lu)\n",
      tasks, static_cast<long long>(duration_cast<milliseconds>(released - start).count()),
      static_cast<long long>(duration_cast<milliseconds>(settled - released).count()), reports,
      late, baseline.handles, after.handles, peak.handles, baseline.threads, after.threads,
      peak.threads);
  EXPECT_EQ(notStarted, 0);
  EXPECT_EQ(late, 0);
  EXPECT_LE(after.handles, baseline.handles);
  EXPECT_LE(after.threads, baseline.threads);
}

}  // namespace
