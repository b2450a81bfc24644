#pragma once

// kvfetch's exit status when the fetch failed. Callers tell it from 0 by its
// exact value (0xFFFFFFFF as Windows reports it); kvfetch-doctor predicts it.
inline constexpr int kExitFetchFailed = -1;

// One run of kvfetch, on the main thread: load the network library, fetch the
// configuration, decipher it, have QXSDK2.dll render it and write that
// rendering to standard output. Returns 0 when the fetch succeeded (whatever
// followed) and kExitFetchFailed when it failed, in which case nothing is
// written. Exhausted memory is not caught: it ends the process abnormally.
int RunSequence();
