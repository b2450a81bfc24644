#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "app/run_sequence.h"
#include "hardening/hardened_start.h"

// Arguments, standard input and the environment are not read: the run is
// fully fixed at build time.
int main() {
  HardenProcessStart();
  // The caller reads the decoder's bytes as they are; text mode would turn
  // each "\n" into "\r\n".
  ::_setmode(::_fileno(stdout), _O_BINARY);
  return RunSequence();
}
