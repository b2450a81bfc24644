"""Fails the link of an image marked NO_SEH whose code registers an SEH handler.

NO_SEH tells the loader the image has no handlers to validate; that is true
only if no code in it pushes a record onto the thread's handler chain, which
always means a write to fs:[0] (the chain's head in the TEB). GNU ld and lld
cannot write a SafeSEH table, so an image that does register handlers must
not ship at all.

Only writes to fs:[0] count: data in .text disassembles into stray fs
operands, and reads of fs:[0] (and of the TEB's other fields) are harmless.

usage: check_no_seh.py OBJDUMP IMAGE
"""
import re
import subprocess
import sys

# Intel syntax puts the destination first. Forms objdump prints:
#   mov fs:0x0,eax / mov DWORD PTR fs:0x0,esp / pop DWORD PTR fs:0x0
FS_ZERO = r"(?:\w+ PTR )?fs:(?:0x0|\[0x0\])"
DESTINATION = re.compile(r"^\s*[0-9a-f]+:\s+(\w+)\s+" + FS_ZERO + r"(?:,|$)")
EITHER_SIDE = re.compile(r"^\s*[0-9a-f]+:\s+(xchg|xadd|cmpxchg)\s+.*\b" + FS_ZERO + r"(?:,|$)")
READS_ONLY = {"cmp", "test", "push", "bt"}


def handler_registrations(listing):
    function = "?"
    for line in listing.splitlines():
        label = re.match(r"^[0-9a-f]+ <(.+)>:$", line)
        if label:
            function = label.group(1)
            continue
        destination = DESTINATION.match(line)
        if (destination and destination.group(1) not in READS_ONLY) or EITHER_SIDE.match(line):
            yield function, line.strip()


def main():
    objdump, image = sys.argv[1:3]
    listing = subprocess.run([objdump, "-d", "-M", "intel", "--no-show-raw-insn", image],
                             check=True, capture_output=True, text=True).stdout
    found = list(handler_registrations(listing))
    for function, line in found:
        print(f"{image}: {function} writes fs:[0] (registers an SEH handler): {line}",
              file=sys.stderr)
    if found:
        print(f"{image}: marked NO_SEH but registers SEH handlers; these linkers cannot "
              "write a SafeSEH table", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
