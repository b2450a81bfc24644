#!/usr/bin/env python3
"""Writes DIR/SHA256SUMS, then packs DIR into ZIP, reproducibly.

Usage: release_zip.py DIR ZIP EPOCH

SHA256SUMS lists every other file of DIR as `sha256sum -c` reads it. The ZIP
holds DIR's files under one top folder named like DIR, in sorted order, each
with the time EPOCH (seconds since 1970, UTC) and the same permissions, so
that the same files always give the same archive.
"""
import hashlib
import os
import sys
import time
import zipfile

SUMS = "SHA256SUMS"


def relative_files(top):
    found = []
    for folder, _, names in os.walk(top):
        for name in names:
            found.append(os.path.relpath(os.path.join(folder, name), top).replace(os.sep, "/"))
    return sorted(found)


def write_sums(top):
    lines = []
    for name in relative_files(top):
        if name == SUMS:
            continue
        with open(os.path.join(top, name), "rb") as f:
            lines.append("%s  %s\n" % (hashlib.sha256(f.read()).hexdigest(), name))
    with open(os.path.join(top, SUMS), "w", newline="\n") as f:
        f.writelines(lines)


def write_zip(top, out, epoch):
    # ZIP times are local calendar fields without a zone; UTC keeps them fixed.
    stamp = time.gmtime(max(epoch, 315532800))[:6]  # the format starts in 1980
    base = os.path.basename(os.path.normpath(top))
    partial = out + ".partial"
    with zipfile.ZipFile(partial, "w") as archive:
        for name in relative_files(top):
            info = zipfile.ZipInfo(base + "/" + name, date_time=stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 3  # Unix, so that the permissions below count
            info.external_attr = 0o100644 << 16
            with open(os.path.join(top, name), "rb") as f:
                archive.writestr(info, f.read(), compresslevel=9)
    os.replace(partial, out)


def main():
    top, out, epoch = sys.argv[1], sys.argv[2], int(sys.argv[3])
    write_sums(top)
    write_zip(top, out, epoch)


if __name__ == "__main__":
    main()
