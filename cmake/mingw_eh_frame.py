"""Copies Debian's MinGW libstdc++.a so that lld keeps its unwind tables.

GCC puts the unwind table of each template or inline function in a section
of its own, ".eh_frame$<name>" beside ".text$<name>", marked link-once but
with no COMDAT symbol to say what it goes with. GNU ld keeps the first of
each name; lld has nothing to tie it to and drops every one. A C++
exception that then has to pass through such a function
(std::streambuf::xsgetn, say) finds no unwind table there, and the process
dies.

Each object of the copy gets, for each such section, the symbol that makes
it an associative COMDAT of its ".text$<name>": lld then keeps the table
exactly when it keeps the function (another object's copy, or
--gc-sections, may drop it). Nothing else in the object changes: the new
symbols go after the old ones, so no relocation's symbol index moves.

usage: mingw_eh_frame.py AR SOURCE_ARCHIVE TARGET_ARCHIVE
"""
import os
import struct
import subprocess
import sys
import tempfile

I386 = 0x14C
SECTION_HEADER = struct.Struct("<8sIIIIIIHHI")
SYMBOL = struct.Struct("<8sIhHBB")
SECTION_AUX = struct.Struct("<IHHIHB3s")
STATIC = 3
ASSOCIATIVE = 5
TABLE_PREFIX, CODE_PREFIX = ".eh_frame$", ".text$"


def section_headers(data, count, strings):
    """(name, header fields) of each section, long names read from the string table."""
    headers = []
    for index in range(count):
        header = SECTION_HEADER.unpack_from(data, 20 + SECTION_HEADER.size * index)
        raw = header[0].rstrip(b"\0")
        if raw.startswith(b"/"):
            start = strings + int(raw[1:])
            raw = data[start:data.index(b"\0", start)]
        headers.append((raw.decode(), header))
    return headers


def defined_sections(data, symbols_at, count):
    """Numbers of the sections that already have a section symbol."""
    numbers, index = set(), 0
    while index < count:
        _, value, section, _, storage, aux = SYMBOL.unpack_from(data, symbols_at + SYMBOL.size * index)
        if storage == STATIC and value == 0 and aux == 1 and section > 0:
            numbers.add(section)
        index += 1 + aux
    return numbers


def with_associations(data, member):
    machine, sections, _, symbols_at, symbol_count = struct.unpack_from("<HHIII", data)
    if machine != I386:
        return data
    strings = symbols_at + SYMBOL.size * symbol_count
    names = section_headers(data, sections, strings)
    number = {name: index + 1 for index, (name, _) in enumerate(names)}
    already_tied = defined_sections(data, symbols_at, symbol_count)
    added = b""
    for index, (name, header) in enumerate(names):
        if not name.startswith(TABLE_PREFIX) or index + 1 in already_tied:
            continue
        code = CODE_PREFIX + name[len(TABLE_PREFIX):]
        if code not in number:
            sys.exit(f"{member}: {name} has no {code} to go with")
        raw_name = header[0]
        if raw_name.startswith(b"/"):  # the same string as the section's name
            raw_name = struct.pack("<II", 0, int(raw_name.rstrip(b"\0")[1:]))
        size, relocations = header[3], header[7]
        added += SYMBOL.pack(raw_name, 0, index + 1, 0, STATIC, 1)
        added += SECTION_AUX.pack(size, relocations, 0, 0, number[code], ASSOCIATIVE, b"")
    if not added:
        return data
    count = symbol_count + len(added) // SYMBOL.size
    header = data[:12] + struct.pack("<I", count) + data[16:strings]
    return header + added + data[strings:]


def main():
    ar, source, target = sys.argv[1:4]
    with tempfile.TemporaryDirectory() as work:
        members = subprocess.run([ar, "t", source], check=True, capture_output=True,
                                 text=True).stdout.split()
        if len(set(members)) != len(members):
            sys.exit(f"{source}: members share a name; extracting would lose one")
        subprocess.run([ar, "x", os.path.abspath(source)], cwd=work, check=True)
        for member in members:
            path = os.path.join(work, member)
            with open(path, "rb") as file:
                data = file.read()
            with open(path, "wb") as file:
                file.write(with_associations(data, member))
        partial = target + ".partial"
        if os.path.exists(partial):
            os.remove(partial)
        subprocess.run([ar, "qcsD", os.path.abspath(partial), *members], cwd=work, check=True)
        os.replace(partial, target)


if __name__ == "__main__":
    main()
