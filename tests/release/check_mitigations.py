"""Fails when a shipped binary of the release tree lacks an exploit mitigation.

Reads each PE file as a Windows security review does (pefile for the
headers, sections and load configuration; the symbols tree's .debug files
for where functions are, and objdump for their code):

- ASLR: DYNAMIC_BASE, with relocations to apply;
- DEP: NX_COMPAT;
- SafeSEH: NO_SEH (these linkers cannot write a handler table);
- no section both writable and executable, none writable and shared;
- a load configuration that XP can read (its data directory says 64
  bytes) and whose own size covers the guard fields;
- Control Flow Guard: GUARD_CF, the compiler's instrumentation flag, a
  table of call targets, and code that calls the check;
- the stack protector: a seeded guard, and a canary check in the functions
  whose stack buffers are filled from outside.

usage: /usr/bin/python3 check_mitigations.py RELEASE_DIR SYMBOLS_DIR OBJDUMP NM
"""
import pathlib
import re
import subprocess
import sys

import pefile

# Functions holding a stack buffer that something outside fills, per file;
# a tuple names the function and the caller the compiler may inline it into.
SIGNER_NAME = ("(anonymous namespace)::SignerDisplayName(", "InspectPublisher(")
OUTSIDE_FILLED = {
    "app/bin/kvfetch.exe": [
        "(anonymous namespace)::Render(",  # the decoding library's 1024 bytes
        "NetLibrary::Init(LibrarySearchReport&)",  # the module path
        "NetLibrary::TryCandidate(",  # the library path
        SIGNER_NAME,  # the certificate's name
    ],
    "app/bin/kvfetch-doctor.exe": ["NetLibrary::Init(LibrarySearchReport&)", SIGNER_NAME],
    "tools/kvseal.exe": ["ReadWholeFile(", "ReadWholeStream("],
    "Wirelink.dll": ["(anonymous namespace)::HeaderValue"],  # WinHTTP's headers
    "app/bin/QXSDK2.dll": ["Json::"],  # jsoncpp is compiled with it too
}

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

    def address(self, name):
        return next((a for a, _, n in self.entries if n == name), None)

    def references(self, name):
        """Addresses code uses to reach a variable: its own, or its pointer's."""
        return [a for a in (self.address(name), self.indirections.get(name)) if a is not None]

    def functions(self, prefix):
        """(start, end, name) of each text symbol whose name starts with prefix."""
        starts = sorted({a for a, kind, _ in self.entries if kind in "Tt"})
        for address, kind, name in self.entries:
            if kind in "Tt" and name.startswith(prefix) and "[clone .cold]" not in name:
                later = [s for s in starts if s > address]
                yield address, (later[0] if later else address + 0x1000), name


def has_canary(objdump, image, start, end, guards, fail):
    code = subprocess.run([objdump, "-d", f"--start-address={start:#x}",
                           f"--stop-address={end:#x}", str(image)],
                          check=True, capture_output=True, text=True).stdout
    return (any(f"{guard:#x}" in code for guard in guards)
            and re.search(rf"call\s+(0x)?{fail:x}\b", code) is not None)


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


def control_flow_guard_problems(pe, image, objdump):
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
    code = subprocess.run([objdump, "-d", str(image)], check=True, capture_output=True,
                          text=True).stdout
    if not re.search(rf"call\s+\*0x{check:x}\b", code):
        problems.append("Control Flow Guard: no code calls the check")
    # Where the system does not replace it, every checked call lands on the
    # pointer's own target: it must be code (MinGW-w64 12's runtime keeps its
    # default check in a data section, where NX stops the first call).
    target = pe.get_dword_at_rva(check - pe.OPTIONAL_HEADER.ImageBase)
    section = pe.get_section_by_rva(target - pe.OPTIONAL_HEADER.ImageBase) if target else None
    if not section or not section.Characteristics & SCN["IMAGE_SCN_MEM_EXECUTE"]:
        problems.append(f"Control Flow Guard: the check pointer's target {target:#x} is not code")
    return problems


def stack_protector_problems(relative, image, debug_file, objdump, nm):
    symbols = Symbols(nm, debug_file)
    guard = symbols.address("__stack_chk_guard")
    fail = symbols.address("__stack_chk_fail")
    if guard is None or fail is None:
        return ["stack protector: no __stack_chk_guard and __stack_chk_fail"]
    problems = []
    if symbols.address("(anonymous namespace)::kSeedStackGuard") is None:
        problems.append("stack protector: the guard is never seeded")
    guards = symbols.references("__stack_chk_guard")
    for prefixes in OUTSIDE_FILLED[relative]:
        prefixes = prefixes if isinstance(prefixes, tuple) else (prefixes,)
        functions = [f for prefix in prefixes for f in symbols.functions(prefix)]
        if not functions:
            problems.append(f"stack protector: no function {' or '.join(prefixes)}...")
        elif not any(has_canary(objdump, image, s, e, guards, fail) for s, e, _ in functions):
            problems.append(f"stack protector: no canary in {' or '.join(prefixes)}...")
    return problems


def main():
    release, symbols_dir, objdump, nm = sys.argv[1:5]
    release, symbols_dir = pathlib.Path(release), pathlib.Path(symbols_dir)
    images = sorted(p for p in release.rglob("*") if p.suffix.lower() in (".exe", ".dll"))
    found = {p.relative_to(release).as_posix() for p in images}
    failures = [f"{name}: not in the release tree" for name in OUTSIDE_FILLED if name not in found]
    for image in images:
        relative = image.relative_to(release).as_posix()
        if relative not in OUTSIDE_FILLED:
            failures.append(f"{relative}: a shipped binary this check does not know")
            continue
        pe = pefile.PE(str(image))
        problems = header_problems(pe) + load_config_problems(pe)
        if not problems:
            problems += control_flow_guard_problems(pe, image, objdump)
        debug_file = symbols_dir / (relative + ".debug")
        problems += stack_protector_problems(relative, image, debug_file, objdump, nm)
        failures += [f"{relative}: {problem}" for problem in problems]
        print(f"{relative}: {'ok' if not problems else 'FAILED'}")
    for failure in failures:
        print(failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
