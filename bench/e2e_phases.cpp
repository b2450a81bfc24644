// Times, inside one process, the steps kvfetch takes before the payload
// work, so that the end-to-end gap to a bare GET can be split up. Prints one
// "name_ms=VALUE" per line:
//   start_to_main      process creation (GetProcessTimes) to main, i.e. Wine's
//                      start-up of this process
//   root_store         CertOpenSystemStoreW(ROOT) and a walk over it (only
//                      with --store-first, before anything else)
//   verify             WinVerifyTrust alone, verify and close, with the same
//                      records as the check (only with --verify-first)
//   check_1..3         PublisherCheck on LIBRARY, three times
//   load               LoadLibraryW(LIBRARY), then its init export
//   init               NetLibrary::Init (finds the library already loaded)
//   request_1, _2      the library's task alone: Start to the final report
//   http_get           HttpGet, the whole call (its adapter's 100 ms included)
//
// Usage: kv_e2e_phases [--store-first | --verify-first] LIBRARY
// WIRELINK_CONNECT_TO must point at the local service, as for kvfetch.

#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "app/config_url.h"
#include "bare_verify.h"
#include "net/http_get.h"
#include "net/http_task.h"
#include "net/net_library.h"
#include "trust/publisher_check.h"
#include "win/unique_handle.h"

namespace {

class CStopwatch {
 public:
  CStopwatch() {
    ::QueryPerformanceFrequency(&m_frequency);
    ::QueryPerformanceCounter(&m_start);
  }
  double Milliseconds() const {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart - m_start.QuadPart) /
           static_cast<double>(m_frequency.QuadPart);
  }

 private:
  LARGE_INTEGER m_frequency;
  LARGE_INTEGER m_start;
};

void Print(const char* name, double ms) { std::printf("%s_ms=%.1f\n", name, ms); }

double StartToMain() {
  FILETIME creation;
  FILETIME exitTime;
  FILETIME kernel;
  FILETIME user;
  FILETIME now;
  if (!::GetProcessTimes(::GetCurrentProcess(), &creation, &exitTime, &kernel, &user)) return -1;
  ::GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER a;
  ULARGE_INTEGER b;
  a.LowPart = creation.dwLowDateTime;
  a.HighPart = creation.dwHighDateTime;
  b.LowPart = now.dwLowDateTime;
  b.HighPart = now.dwHighDateTime;
  return static_cast<double>(b.QuadPart - a.QuadPart) / 10000.0;  // 100 ns units
}

void TimeRootStore() {
  const CStopwatch watch;
  HCERTSTORE store = ::CertOpenSystemStoreW(0, L"ROOT");
  int count = 0;
  if (store) {
    PCCERT_CONTEXT cert = nullptr;
    while ((cert = ::CertEnumCertificatesInStore(store, cert)) != nullptr) ++count;
    ::CertCloseStore(store, 0);
  }
  Print("root_store", watch.Milliseconds());
  std::printf("root_certificates=%d\n", count);
}

void TimeVerify(const wchar_t* library) {
  const CStopwatch watch;
  const LONG status = BareVerifySignature(library);
  Print("verify", watch.Milliseconds());
  std::printf("verify_status=0x%08lx\n", static_cast<unsigned long>(status));
}

// Waits for the task's final report and nothing else.
class CReportWaiter final : public IHttpTaskCallback {
 public:
  CReportWaiter() : m_done(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  void OnTaskResult(IHttpTask*, const TaskResult* result) override {
    if (result && result->state == kTaskStatePending) return;
    if (result && result->state == kTaskStateRunning) return;
    ::SetEvent(m_done.Get());
  }
  bool Wait() const {
    return ::WaitForSingleObject(m_done.Get(), kHttpGetTimeoutMs) == WAIT_OBJECT_0;
  }

 private:
  CUniqueHandle m_done;
};

void TimeRequest(RequestFactory* factory, const char* name) {
  if (!factory) return;
  CReportWaiter waiter;
  const CStopwatch watch;
  IHttpTask* task = factory->CreateTask();
  if (!task) return;
  task->SetCallback(&waiter);
  const bool started = task->Start(0, kConfigUrl) != 0;
  const bool reported = started && waiter.Wait();
  Print(name, watch.Milliseconds());
  task->SetCallback(nullptr);
  // Reports already under way must not reach the waiter once it is gone.
  ::Sleep(100);
  task->Release();
  if (!reported) std::printf("%s_failed=1\n", name);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const double startToMain = StartToMain();
  int next = 1;
  const bool storeFirst = argc > next && std::wcscmp(argv[next], L"--store-first") == 0;
  const bool verifyFirst = argc > next && std::wcscmp(argv[next], L"--verify-first") == 0;
  if (storeFirst || verifyFirst) ++next;
  if (argc <= next) {
    std::fprintf(stderr, "usage: kv_e2e_phases [--store-first | --verify-first] LIBRARY\n");
    return 2;
  }
  const wchar_t* library = argv[next];
  Print("start_to_main", startToMain);
  if (storeFirst) TimeRootStore();
  if (verifyFirst) TimeVerify(library);

  const char* kCheckNames[] = {"check_1", "check_2", "check_3"};
  for (const char* name : kCheckNames) {
    const CStopwatch watch;
    const bool accepted = PublisherCheck(library);
    Print(name, watch.Milliseconds());
    if (!accepted) std::printf("%s_refused=1\n", name);
  }

  {
    const CStopwatch watch;
    const HMODULE module = ::LoadLibraryW(library);
    Print("load", watch.Milliseconds());
    if (!module) return 1;
    const auto httpInit = LookUpNetExports(module).httpInit;
    const CStopwatch initWatch;
    if (httpInit) httpInit();
    Print("http_init", initWatch.Milliseconds());
  }
  {
    const CStopwatch watch;
    NetLibrary::Instance().Init();
    Print("init", watch.Milliseconds());
  }
  RequestFactory* factory = NetLibrary::Instance().Factory();
  TimeRequest(factory, "request_1");
  TimeRequest(factory, "request_2");
  {
    std::string body;
    const CStopwatch watch;
    const bool fetched = HttpGet(kConfigUrl, body);
    Print("http_get", watch.Milliseconds());
    std::printf("http_get_ok=%d\nbody_bytes=%zu\n", fetched ? 1 : 0, body.size());
  }
  return 0;
}
