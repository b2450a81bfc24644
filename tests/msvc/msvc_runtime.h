#pragma once

// The little the MSVC-ABI test libraries need in place of Microsoft's SDK and
// runtime: the KERNEL32 functions they call, heap objects without operator
// new, and a lock. Built by clang-cl with /NODEFAULTLIB, no exceptions, no
// RTTI, no CRT.

#include <stddef.h>

#define KV_IMPORT extern "C" __declspec(dllimport)

using Handle = void*;
using ThreadRoutine = unsigned long(__stdcall*)(void* context);

// Laid out as KERNEL32's CRITICAL_SECTION on i686 (24 bytes).
struct CriticalSection {
  void* debugInfo;
  long lockCount;
  long recursionCount;
  Handle owningThread;
  Handle lockSemaphore;
  unsigned long spinCount;
};
static_assert(sizeof(CriticalSection) == 24, "CRITICAL_SECTION is 24 bytes on i686");

KV_IMPORT int __stdcall CloseHandle(Handle handle);
KV_IMPORT Handle __stdcall CreateFileW(const wchar_t* name, unsigned long access,
                                       unsigned long share, void* security,
                                       unsigned long disposition, unsigned long flags,
                                       Handle templateFile);
KV_IMPORT Handle __stdcall CreateThread(void* security, size_t stackSize, ThreadRoutine routine,
                                        void* context, unsigned long flags,
                                        unsigned long* threadId);
KV_IMPORT void __stdcall DeleteCriticalSection(CriticalSection* section);
KV_IMPORT void __stdcall EnterCriticalSection(CriticalSection* section);
KV_IMPORT unsigned long __stdcall GetFileSize(Handle file, unsigned long* high);
KV_IMPORT unsigned long __stdcall GetModuleFileNameW(Handle module, wchar_t* name,
                                                     unsigned long size);
KV_IMPORT Handle __stdcall GetProcessHeap();
KV_IMPORT void* __stdcall HeapAlloc(Handle heap, unsigned long flags, size_t bytes);
KV_IMPORT int __stdcall HeapFree(Handle heap, unsigned long flags, void* block);
KV_IMPORT void __stdcall InitializeCriticalSection(CriticalSection* section);
KV_IMPORT void __stdcall LeaveCriticalSection(CriticalSection* section);
KV_IMPORT int __stdcall ReadFile(Handle file, void* buffer, unsigned long toRead,
                                 unsigned long* read, void* overlapped);
KV_IMPORT unsigned long __stdcall WaitForSingleObject(Handle handle, unsigned long ms);

constexpr unsigned long kGenericRead = 0x80000000u;
constexpr unsigned long kFileShareRead = 1;
constexpr unsigned long kOpenExisting = 3;
constexpr unsigned long kInfinite = 0xFFFFFFFFu;
constexpr unsigned long kHeapZeroMemory = 8;
constexpr unsigned long kDllProcessAttach = 1;
inline Handle InvalidHandle() { return reinterpret_cast<Handle>(-1); }

// Placement new without <new>: objects live in HeapAlloc'd blocks.
inline void* operator new(size_t, void* where) noexcept { return where; }

void* AllocateZeroed(size_t bytes);
void FreeBlock(void* block);

template <typename T>
T* NewObject() {
  void* block = AllocateZeroed(sizeof(T));
  return block ? new (block) T : nullptr;
}

template <typename T>
void DeleteObject(T* object) {
  object->~T();
  FreeBlock(object);
}

class CLock {
 public:
  CLock() { InitializeCriticalSection(&m_section); }
  ~CLock() { DeleteCriticalSection(&m_section); }
  CLock(const CLock&) = delete;
  CLock& operator=(const CLock&) = delete;
  void Enter() { EnterCriticalSection(&m_section); }
  void Leave() { LeaveCriticalSection(&m_section); }

 private:
  CriticalSection m_section;
};

class CLockHeld {
 public:
  explicit CLockHeld(CLock& lock) : m_lock(lock) { m_lock.Enter(); }
  ~CLockHeld() { m_lock.Leave(); }
  CLockHeld(const CLockHeld&) = delete;
  CLockHeld& operator=(const CLockHeld&) = delete;

 private:
  CLock& m_lock;
};
