"""Fails when a shipped binary of the release tree lacks an exploit mitigation.

Reads each PE file as a Windows security review does (pefile for the
headers, sections and load configuration; the symbols tree's .debug files
for where functions are and what source they come from, and objdump for
their code):

- ASLR: DYNAMIC_BASE, with relocations to apply;
- DEP: NX_COMPAT;
- SafeSEH: NO_SEH (these linkers cannot write a handler table);
- no section both writable and executable, none writable and shared;
- a load configuration that XP can read (its data directory says 64
  bytes) and whose own size covers the guard fields;
- Control Flow Guard: GUARD_CF, the compiler's instrumentation flag, a
  table of call targets, and code that calls the check;
- the stack protector: a guard that a C initializer seeds, and a canary
  check in every function of the image's own code whose prologue reserves
  a large frame.

usage: /usr/bin/python3 check_mitigations.py RELEASE_DIR SYMBOLS_DIR OBJDUMP NM
"""
import bisect
import pathlib
import re
import subprocess
import sys

import pefile

# The release tree holds these binaries and no other.
SHIPPED = {"app/bin/kvfetch.exe", "app/bin/kvfetch-doctor.exe", "tools/kvseal.exe",
           "Wirelink.dll", "app/bin/QXSDK2.dll"}
# The image's own code: functions whose line information points into the
# trees the build compiles with stack cookies, ours and jsoncpp's (named so
# by cmake/reproducible.cmake), not the prebuilt runtime or its headers.
OWN_SOURCES = ("/kvfetch/", "/jsoncpp/")
# A frame this large holds a buffer or an object whose address is taken,
# which -fstack-protector-strong guards.
LARGE_FRAME = 256
# The runtime's stack probes, which a prologue calls with the frame's size in
# eax when it spans more than a page.
STACK_PROBES = ("__chkstk_ms", "__chkstk", "_alloca")

DLL = pefile.DLL_CHARACTERISTICS
SCN = pefile.SECTION_CHARACTERISTICS
X86_LOAD_CONFIG_DIRECTORY_SIZE = 64  # what XP's loader accepts
GUARD_FLAGS_END = 0x5C  # the x86 load configuration up to GuardFlags
CF_INSTRUMENTED, CF_FUNCTION_TABLE_PRESENT = 0x100, 0x400


class Symbols:
    """Function addresses of one binary, from its .debug file."""

    def __init__(self, nm, debug_file):
        listing = subprocess.run([nm, "-n", "-C", str(debug_file)], check=True,
                                 capture_output=True, text=True).stdout
        self.entries = []
        self.indirections = {}
        for line in listing.splitlines():
            defined = re.match(r"^([0-9a-f]+) (\w) ([^.].*)$", line)
            if defined:
                self.entries.append((int(defined[1], 16), defined[2], defined[3]))
            # clang reaches some variables through a pointer to them.
            indirection = re.match(r"^([0-9a-f]+) \w \.refptr\._(.+)$", line)
            if indirection:
                self.indirections[indirection[2]] = int(indirection[1], 16)
        self.starts = sorted({a for a, kind, _ in self.entries if kind in "Tt"})

    def address(self, name):
        return next((a for a, _, n in self.entries if n == name), None)

    def references(self, name):
        """Addresses code uses to reach a variable: its own, or its pointer's."""
        return [a for a in (self.address(name), self.indirections.get(name)) if a is not None]

    def name_at(self, address):
        return next((n for a, kind, n in self.entries if a == address and kind in "Tt"), "?")

    def end_of(self, start):
        later = bisect.bisect_right(self.starts, start)
        return self.starts[later] if later < len(self.starts) else start + 0x1000


class Code:
    """An image's instructions (Intel syntax), by address."""

    def __init__(self, objdump, image):
        listing = subprocess.run([objdump, "-d", "-M", "intel", "--no-show-raw-insn", str(image)],
                                 check=True, capture_output=True, text=True).stdout
        found = (re.match(r"^\s*([0-9a-f]+):\s+(\S.*?)\s*$", line) for line in listing.splitlines())
        self.lines = [(int(m[1], 16), m[2]) for m in found if m]
        self.addresses = [a for a, _ in self.lines]

    def between(self, start, end):
        first, last = (bisect.bisect_left(self.addresses, a) for a in (start, end))
        return [text for _, text in self.lines[first:last]]


class OwnCode:
    """Where the image's own code is, by the .debug file's line table."""

    def __init__(self, objdump, debug_file):
        listing = subprocess.run([objdump, "--dwarf=decodedline", "--wide", str(debug_file)],
                                 check=True, capture_output=True, text=True).stdout
        rows, current = [], ""
        for line in listing.splitlines():
            header = re.match(r"^(?:CU: )?(\S.*):$", line)
            row = re.match(r"^\S+\s+\d+\s+0x([0-9a-f]+)\b", line)
            if header:
                current = header[1].replace("\\", "/")
            elif row and current.startswith(OWN_SOURCES):
                rows.append((int(row[1], 16), current))
        rows.sort()
        self.addresses = [a for a, _ in rows]
        self.files = [f for _, f in rows]

    def file_in(self, start, end):
        """A file of ours that code between start and end comes from, or None."""
        first = bisect.bisect_left(self.addresses, start)
        if first < len(self.addresses) and self.addresses[first] < end:
            return self.files[first]
        return None


def frame_size(instructions, probes):
    """Bytes the prologue reserves: sub esp,N, or N handed to a stack probe."""
    probed = 0
    for text in instructions[:8]:
        reserve = re.fullmatch(r"sub\s+esp,(0x[0-9a-f]+)", text)
        call = re.match(r"call\s+0x([0-9a-f]+)\b", text)
        if reserve:
            return int(reserve[1], 16)
        if call and int(call[1], 16) in probes:
            return probed
        size = re.fullmatch(r"mov\s+eax,(0x[0-9a-f]+)", text)
        if size:
            probed = int(size[1], 16)
        elif not re.match(r"push\s|mov\s+ebp,esp$|and\s+esp,", text):
            break
    return 0


def reads_any(instructions, addresses):
    return any(f"ds:{a:#x}" in text for text in instructions for a in addresses)


def calls(instructions, target):
    return any(re.match(rf"call\s+0x{target:x}\b", text) for text in instructions)


def seeds_guard(pe, symbols, code, guard):
    """Whether a C initializer, run before any C++ constructor, DllMain or
    main, writes the guard."""
    first, last = symbols.address("__xi_a"), symbols.address("__xi_z")
    if first is None or last is None:
        return False
    base = pe.OPTIONAL_HEADER.ImageBase
    initializers = [pe.get_dword_at_rva(a - base) for a in range(first + 4, last, 4)]
    return any(re.match(rf"mov\s+DWORD PTR ds:{guard:#x},", text)
               for i in initializers if i for text in code.between(i, symbols.end_of(i)))


def stack_protector_problems(pe, code, debug_file, objdump, nm):
    symbols = Symbols(nm, debug_file)
    guard = symbols.address("__stack_chk_guard")
    fail = symbols.address("__stack_chk_fail")
    if guard is None or fail is None:
        return ["stack protector: no __stack_chk_guard and __stack_chk_fail"]
    problems = []
    if not seeds_guard(pe, symbols, code, guard):
        problems.append("stack protector: no C initializer seeds the guard")
    guards = symbols.references("__stack_chk_guard")
    own = OwnCode(objdump, debug_file)
    probes = {symbols.address(name) for name in STACK_PROBES}
    checked = 0
    for start in symbols.starts:
        end = symbols.end_of(start)
        source = own.file_in(start, end)
        instructions = code.between(start, end) if source else []
        frame = frame_size(instructions, probes)
        if frame < LARGE_FRAME:
            continue
        checked += 1
        if not (reads_any(instructions, guards) and calls(instructions, fail)):
            problems.append(f"stack protector: no canary in {symbols.name_at(start)}, "
                            f"a {frame}-byte frame ({source})")
    if not checked:
        problems.append("stack protector: no function of its own code has a large frame")
    return problems


def header_problems(pe):
    problems = []
    flags = pe.OPTIONAL_HEADER.DllCharacteristics
    relocations = pe.OPTIONAL_HEADER.DATA_DIRECTORY[5]
    if not flags & DLL["IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE"]:
        problems.append("ASLR: no DYNAMIC_BASE")
    if relocations.Size == 0 or pe.FILE_HEADER.Characteristics & 0x0001:
        problems.append("ASLR: no relocations")
    if not flags & DLL["IMAGE_DLLCHARACTERISTICS_NX_COMPAT"]:
        problems.append("DEP: no NX_COMPAT")
    if not flags & DLL["IMAGE_DLLCHARACTERISTICS_NO_SEH"]:
        problems.append("SafeSEH: neither a handler table nor NO_SEH")
    for section in pe.sections:
        name = section.Name.rstrip(b"\0").decode(errors="replace")
        writable = section.Characteristics & SCN["IMAGE_SCN_MEM_WRITE"]
        if writable and section.Characteristics & SCN["IMAGE_SCN_MEM_EXECUTE"]:
            problems.append(f"section {name} is writable and executable")
        if writable and section.Characteristics & SCN["IMAGE_SCN_MEM_SHARED"]:
            problems.append(f"section {name} is writable and shared")
    return problems


def load_config_problems(pe):
    directory = pe.OPTIONAL_HEADER.DATA_DIRECTORY[10]
    if directory.Size != X86_LOAD_CONFIG_DIRECTORY_SIZE:
        return [f"load configuration directory says {directory.Size} bytes, not 64"]
    config = pe.DIRECTORY_ENTRY_LOAD_CONFIG.struct
    if config.Size < GUARD_FLAGS_END:
        return [f"load configuration of {config.Size} bytes has no guard fields"]
    return []


def control_flow_guard_problems(pe, code):
    problems = []
    if not pe.OPTIONAL_HEADER.DllCharacteristics & DLL["IMAGE_DLLCHARACTERISTICS_GUARD_CF"]:
        problems.append("Control Flow Guard: no GUARD_CF")
    config = pe.DIRECTORY_ENTRY_LOAD_CONFIG.struct
    wanted = CF_INSTRUMENTED | CF_FUNCTION_TABLE_PRESENT
    if config.GuardFlags & wanted != wanted:
        problems.append(f"Control Flow Guard: GuardFlags {config.GuardFlags:#x}")
    if not config.GuardCFFunctionTable or not config.GuardCFFunctionCount:
        problems.append("Control Flow Guard: no table of call targets")
    # The compiler's check: a call through the pointer the loader replaces.
    check = config.GuardCFCheckFunctionPointer
    if not any(re.match(rf"call\s+DWORD PTR ds:{check:#x}$", text) for _, text in code.lines):
        problems.append("Control Flow Guard: no code calls the check")
    # Where the system does not replace it, every checked call lands on the
    # pointer's own target: it must be code (MinGW-w64 12's runtime keeps its
    # default check in a data section, where NX stops the first call).
    target = pe.get_dword_at_rva(check - pe.OPTIONAL_HEADER.ImageBase)
    section = pe.get_section_by_rva(target - pe.OPTIONAL_HEADER.ImageBase) if target else None
    if not section or not section.Characteristics & SCN["IMAGE_SCN_MEM_EXECUTE"]:
        problems.append(f"Control Flow Guard: the check pointer's target {target:#x} is not code")
    return problems


def main():
    release, symbols_dir, objdump, nm = sys.argv[1:5]
    release, symbols_dir = pathlib.Path(release), pathlib.Path(symbols_dir)
    images = sorted(p for p in release.rglob("*") if p.suffix.lower() in (".exe", ".dll"))
    found = {p.relative_to(release).as_posix() for p in images}
    failures = [f"{name}: not in the release tree" for name in sorted(SHIPPED - found)]
    for image in images:
        relative = image.relative_to(release).as_posix()
        if relative not in SHIPPED:
            failures.append(f"{relative}: a shipped binary this check does not know")
            continue
        pe = pefile.PE(str(image))
        code = Code(objdump, image)
        problems = header_problems(pe) + load_config_problems(pe)
        if not problems:
            problems += control_flow_guard_problems(pe, code)
        debug_file = symbols_dir / (relative + ".debug")
        problems += stack_protector_problems(pe, code, debug_file, objdump, nm)
        failures += [f"{relative}: {problem}" for problem in problems]
        print(f"{relative}: {'ok' if not problems else 'FAILED'}")
    for failure in failures:
        print(failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
