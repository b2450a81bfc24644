#pragma once

// What every shipped program does first in main, before it loads any
// library: end the process on heap corruption, and put it under DEP where
// the system lets a process ask for that itself (XP SP3 and later). Each
// step is best-effort: where the system refuses it, nothing changes and
// nothing is reported.
void HardenProcessStart();
