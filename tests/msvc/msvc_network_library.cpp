// A network library as Microsoft's compiler lays it out: real classes with
// virtual functions (__thiscall members, MSVC tables), built by clang-cl
// without any runtime. What a request does comes from msvc_network.txt
// beside the DLL: a first line naming the mode, then the body's bytes.
//   thread  a progress report, then success with the body, from a thread of
//           its own
//   inline  the same two reports from inside Start, on the caller's thread
//   fail    a failure (state 3, errors 12029 and 0) from a thread of its own
// Reports hold the task's lock, so none is under way or begins once
// SetCallback(nullptr) or Release has returned.
#include "msvc_runtime.h"
#include "support/http_task_base.h"
#include "net/net_exports.h"
#include "network-library/refusing_exports.h"

namespace {

Handle g_module;  // set once by DllMain, before any export is called

enum class Mode { kThread, kInline, kFail };

constexpr wchar_t kScriptName[] = L"msvc_network.txt";
constexpr unsigned long kMaxScriptBytes = 1u << 20;

struct Script {
  Mode mode = Mode::kFail;
  char* bytes = nullptr;  // the whole file; the body starts after line one
  int32_t bodyOffset = 0;
  int32_t bodyLength = 0;
};

bool StartsWith(const char* text, int32_t length, const char* word) {
  int32_t i = 0;
  for (; word[i] != '\0'; ++i) {
    if (i >= length || text[i] != word[i]) return false;
  }
  return i == length || text[i] == '\n';
}

// Fills `path` with the script's path beside this DLL.
bool ScriptPath(wchar_t (&path)[300]) {
  const unsigned long length = GetModuleFileNameW(g_module, path, 260);
  if (length == 0 || length >= 260) return false;
  unsigned long slash = length;
  while (slash > 0 && path[slash - 1] != L'\\') --slash;
  for (unsigned long i = 0; kScriptName[i] != L'\0'; ++i) path[slash++] = kScriptName[i];
  path[slash] = L'\0';
  return true;
}

Script LoadScript() {
  Script script;
  wchar_t path[300];
  if (!ScriptPath(path)) return script;
  Handle file = CreateFileW(path, kGenericRead, kFileShareRead, nullptr, kOpenExisting, 0, nullptr);
  if (file == InvalidHandle()) return script;
  const unsigned long size = GetFileSize(file, nullptr);
  unsigned long read = 0;
  if (size <= kMaxScriptBytes) script.bytes = static_cast<char*>(AllocateZeroed(size + 1));
  if (script.bytes && ReadFile(file, script.bytes, size, &read, nullptr) && read == size) {
    const auto length = static_cast<int32_t>(size);
    int32_t newline = 0;
    while (newline < length && script.bytes[newline] != '\n') ++newline;
    script.bodyOffset = newline < length ? newline + 1 : length;
    script.bodyLength = length - script.bodyOffset;
    if (StartsWith(script.bytes, length, "thread")) script.mode = Mode::kThread;
    if (StartsWith(script.bytes, length, "inline")) script.mode = Mode::kInline;
  }
  CloseHandle(file);
  return script;
}

class CMsvcTask final : public CHttpTaskBase {
 public:
  void SetCallback(IHttpTaskCallback* callback) override {
    CLockHeld held(m_lock);
    m_callback = callback;
  }

  int Start(int /*reserved*/, const wchar_t* /*url*/) override {
    m_script = LoadScript();
    if (m_script.mode == Mode::kInline) {
      ReportAll();
      return 1;
    }
    m_thread = CreateThread(nullptr, 0, &CMsvcTask::Run, this, 0, nullptr);
    return m_thread != nullptr;
  }

  void Release() override {
    SetCallback(nullptr);
    if (m_thread) {
      WaitForSingleObject(m_thread, kInfinite);
      CloseHandle(m_thread);
    }
    FreeBlock(m_script.bytes);
    DeleteObject(this);
  }

  int SetOption(const char* /*name*/, int /*value*/) override { return 1; }

 private:
  friend void DeleteObject<CMsvcTask>(CMsvcTask*);
  ~CMsvcTask() = default;

  static unsigned long __stdcall Run(void* context) {
    static_cast<CMsvcTask*>(context)->ReportAll();
    return 0;
  }

  void ReportAll() {
    if (m_script.mode == Mode::kFail) {
      Report(3, 12029, 0, false);
      return;
    }
    Report(kTaskStateRunning, 0, 0, false);
    Report(kTaskStateSucceeded, 0, 200, true);
  }

  void Report(int32_t state, int32_t firstError, int32_t secondError, bool withBody) {
    CLockHeld held(m_lock);
    if (m_callback == nullptr) return;
    const TaskResult result =
        withBody ? MakeTaskResult(state, firstError, secondError,
                                  m_script.bytes + m_script.bodyOffset, m_script.bodyLength)
                 : MakeTaskResult(state, firstError, secondError);
    m_callback->OnTaskResult(this, &result);
  }

  CLock m_lock;
  IHttpTaskCallback* m_callback = nullptr;
  Handle m_thread = nullptr;
  Script m_script;
};

class CMsvcFactory final : public RequestFactory {
 public:
  IHttpTask* CreateTask() override { return NewObject<CMsvcTask>(); }
};

constinit CMsvcFactory g_factory;  // constant-initialised: no runtime runs constructors here

}  // namespace

extern "C" {

RequestFactory* __cdecl HttpInit() { return &g_factory; }

int __stdcall DllMain(Handle module, unsigned long reason, void* /*reserved*/) {
  if (reason == kDllProcessAttach) g_module = module;
  return 1;
}

}  // extern "C"
