/* The image's load configuration, which the MinGW-w64 runtime lacks and
 * Control Flow Guard needs: lld fills in the guard tables and flags through
 * the __guard_* symbols it defines. mingw-w64 10's winnt.h has no guard
 * fields, so the x86 layout is spelt out here. The linker wrapper
 * (cmake/ld-lld-xp) sets the data directory's size to 64, the size XP's
 * loader accepts; this Size field keeps the full size for the systems and
 * tools that know the guard fields. */
#include <stdint.h>

typedef struct {
  uint32_t Size, TimeDateStamp;
  uint16_t MajorVersion, MinorVersion;
  uint32_t GlobalFlagsClear, GlobalFlagsSet, CriticalSectionDefaultTimeout;
  uint32_t DeCommitFreeBlockThreshold, DeCommitTotalFreeThreshold, LockPrefixTable;
  uint32_t MaximumAllocationSize, VirtualMemoryThreshold, ProcessHeapFlags;
  uint32_t ProcessAffinityMask;
  uint16_t CSDVersion, DependentLoadFlags;
  uint32_t EditList, SecurityCookie, SEHandlerTable, SEHandlerCount;
  uint32_t GuardCFCheckFunctionPointer, GuardCFDispatchFunctionPointer;
  uint32_t GuardCFFunctionTable, GuardCFFunctionCount, GuardFlags;
  uint16_t CodeIntegrityFlags, CodeIntegrityCatalog;
  uint32_t CodeIntegrityCatalogOffset, CodeIntegrityReserved;
  uint32_t GuardAddressTakenIatEntryTable, GuardAddressTakenIatEntryCount;
  uint32_t GuardLongJumpTargetTable, GuardLongJumpTargetCount;
} LoadConfig32;

/* Defined by lld under --guard-cf. */
extern const char __guard_fids_table[], __guard_fids_count[], __guard_flags[];
extern const char __guard_iat_table[], __guard_iat_count[];
extern const char __guard_longjmp_table[], __guard_longjmp_count[];

/* What every checked call reaches where the system has no Control Flow
 * Guard: it lets every target through. Where the system has it, the loader
 * replaces the pointer below with its own check; it lives in .00cfg, which
 * the loader makes writable for that alone. MinGW-w64 12's libmingwex.a has
 * a pointer of the same name whose default check sits in .00cfg itself, not
 * in code, so the first checked call faults under NX. This archive comes
 * before the runtime's on every link line, and lld takes a symbol from the
 * first archive that has it: the runtime's member is never loaded, and the
 * pointer is defined once, here. ReleaseMitigationsTest checks its target
 * is code. */
static void __fastcall CheckNothing(uintptr_t target) { (void)target; }

__attribute__((section(".00cfg"))) void(__fastcall* const __guard_check_icall_fptr)(uintptr_t) =
    CheckNothing;

#define KV_ADDRESS(symbol) ((uint32_t)(uintptr_t)(symbol))

const LoadConfig32 _load_config_used = {
    .Size = sizeof(LoadConfig32),
    .GuardCFCheckFunctionPointer = KV_ADDRESS(&__guard_check_icall_fptr),
    .GuardCFFunctionTable = KV_ADDRESS(__guard_fids_table),
    .GuardCFFunctionCount = KV_ADDRESS(__guard_fids_count),
    .GuardFlags = KV_ADDRESS(__guard_flags),
    .GuardAddressTakenIatEntryTable = KV_ADDRESS(__guard_iat_table),
    .GuardAddressTakenIatEntryCount = KV_ADDRESS(__guard_iat_count),
    .GuardLongJumpTargetTable = KV_ADDRESS(__guard_longjmp_table),
    .GuardLongJumpTargetCount = KV_ADDRESS(__guard_longjmp_count),
};
