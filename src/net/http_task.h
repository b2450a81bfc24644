#pragma once

// The network library's binary interface. The library is built by another
// compiler, so everything here is fixed by position and offset: the
// interfaces are abstract classes whose virtual slots must stay in this exact
// order (the default member calling convention, thiscall on i686, is what the
// library uses), and none of them has a virtual destructor, which would add
// slots the library does not have. Only C headers here: libraries built
// without a C++ runtime include this too.

#include <stddef.h>
#include <stdint.h>

class IHttpTask;

// Passed to OnTaskResult; valid only during that call.
struct TaskResult {
  int32_t reserved0;
  int32_t state;        // kTaskStateSucceeded, a pending state or a failure
  int32_t secondError;  // printed second in the failure text
  int32_t firstError;   // printed first in the failure text
  const char* body;     // not terminated; may hold NUL bytes
  int32_t reserved20;
  int32_t bodyLength;
};

static_assert(sizeof(int32_t) == 4, "TaskResult fields are 32-bit");
static_assert(offsetof(TaskResult, state) == 4, "state at offset 4");
static_assert(offsetof(TaskResult, secondError) == 8, "second error at offset 8");
static_assert(offsetof(TaskResult, firstError) == 12, "first error at offset 12");
static_assert(offsetof(TaskResult, body) == 16, "body pointer at offset 16");
#if defined(_M_IX86) || defined(__i386__)
static_assert(offsetof(TaskResult, bodyLength) == 24, "body length at offset 24");
static_assert(sizeof(TaskResult) == 28, "the library hands out 28-byte records");
#endif

// States 0 and 1 are progress reports; 2 carries the body; anything else,
// negative included, is a failure.
constexpr int32_t kTaskStatePending = 0;
constexpr int32_t kTaskStateRunning = 1;
constexpr int32_t kTaskStateSucceeded = 2;

// Implemented by us, called by the library on any thread, any number of times.
class IHttpTaskCallback {
 public:
  virtual void OnTaskResult(IHttpTask* task, const TaskResult* result) = 0;  // slot 0

 protected:
  ~IHttpTaskCallback() = default;
};

// A request object owned by the library. Slots we never call are still
// declared so that SetOption lands in slot 12.
class IHttpTask {
 public:
  // Null unregisters; after that call no new report begins.
  virtual void SetCallback(IHttpTaskCallback* callback) = 0;  // slot 0
  // Non-zero means started; the outcome arrives through the callback.
  virtual int Start(int reserved, const wchar_t* url) = 0;  // slot 1
  virtual int Reserved2() = 0;                              // slot 2
  // Disposes of the task; called once, never used afterwards.
  virtual void Release() = 0;  // slot 3
  virtual int Reserved4() = 0;
  virtual int Reserved5() = 0;
  virtual int Reserved6() = 0;
  virtual int Reserved7() = 0;
  virtual int Reserved8() = 0;
  virtual int Reserved9() = 0;
  virtual int Reserved10() = 0;
  virtual int Reserved11() = 0;
  virtual int SetOption(const char* name, int value) = 0;  // slot 12

 protected:
  ~IHttpTask() = default;
};

class RequestFactory {
 public:
  // A new task, or null.
  virtual IHttpTask* CreateTask() = 0;  // slot 0

 protected:
  ~RequestFactory() = default;
};

// Deleter for std::shared_ptr<IHttpTask>: tasks belong to the library and go
// back to it; we never delete them ourselves.
struct HttpTaskDeletor {
  void operator()(IHttpTask* task) const {
    if (task) task->Release();
  }
};
