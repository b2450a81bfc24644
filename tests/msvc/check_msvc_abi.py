"""Fails unless DLL has the ABI of Microsoft's compiler.

  every DLL imports from KERNEL32.dll alone;
  network: OBJECTS hold MSVC virtual tables (??_7) and public virtual
           __thiscall members (@@UAE);
  cdecl / stdcall: ordinal 6 is exported with no name, and OBJECTS define
           _DecodeConfig (__cdecl) or _DecodeConfig@12 (__stdcall).

The image's tables are read with pefile, not from a dumper's prose, which
changes between LLVM versions; the objects' symbols come from llvm-nm.

usage: check_msvc_abi.py NM DLL network|cdecl|stdcall OBJECT...
"""
import re
import subprocess
import sys

import pefile

NETWORK_MEMBERS = 13


def imported_dlls(image):
    return [entry.dll.decode() for entry in getattr(image, "DIRECTORY_ENTRY_IMPORT", [])]


def exports(image):
    """(ordinal, name or None) for every export."""
    table = getattr(image, "DIRECTORY_ENTRY_EXPORT", None)
    return [(s.ordinal, s.name.decode() if s.name else None) for s in (table.symbols if table else [])]


def defined_symbols(nm, objects):
    """Names the objects define in a section: nm's 'T', 'D', 'R', ... lines."""
    listing = subprocess.run([nm, *objects], check=True, capture_output=True, text=True).stdout
    names = set()
    for line in listing.splitlines():
        words = line.split()
        if len(words) >= 3 and words[-2] not in ("U", "w", "v"):
            names.add(words[-1])
    return names


def problems(nm, dll, expect, objects):
    image = pefile.PE(dll, fast_load=True)
    image.parse_data_directories(directories=[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"],
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_EXPORT"]])
    for name in imported_dlls(image):
        if name.upper() != "KERNEL32.DLL":
            yield f"imports {name}"
    symbols = defined_symbols(nm, objects)
    if expect == "network":
        if not any(re.match(r"\?\?_7[A-Za-z]+@", s) for s in symbols):
            yield "no MSVC virtual table (??_7...) in its objects"
        members = [s for s in symbols if re.match(r"\?[A-Za-z0-9_]+@.*@@UAE", s)]
        if len(members) < NETWORK_MEMBERS:
            yield (f"only {len(members)} public virtual __thiscall members (@@UAE), "
                   f"{NETWORK_MEMBERS} expected")
        return
    sixth = [name for ordinal, name in exports(image) if ordinal == 6]
    if not sixth:
        yield "no export with ordinal 6"
    elif sixth[0] is not None:
        yield f"ordinal 6 is exported by the name {sixth[0]}, not by ordinal alone"
    wanted = "_DecodeConfig@12" if expect == "stdcall" else "_DecodeConfig"
    if wanted not in symbols:
        yield f"its objects define no {wanted}"


def main():
    nm, dll, expect, *objects = sys.argv[1:]
    found = list(problems(nm, dll, expect, objects))
    for why in found:
        print(f"{dll} is not what the MSVC-ABI tests need: {why}", file=sys.stderr)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
