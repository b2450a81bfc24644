#!/usr/bin/env python3
"""Checks a release ZIP: one top folder, entries sorted with the one fixed
time, and a SHA256SUMS inside that lists every other entry with its hash.

Usage: check_release_zip.py ZIP EPOCH
"""
import hashlib
import sys
import time
import zipfile


def main():
    path, epoch = sys.argv[1], int(sys.argv[2])
    failures = []
    with zipfile.ZipFile(path) as archive:
        infos = archive.infolist()
        names = [info.filename for info in infos]
        tops = {name.split("/", 1)[0] for name in names}
        if len(tops) != 1:
            failures.append("top folders: %s" % sorted(tops))
        if names != sorted(names):
            failures.append("entries are not sorted")
        # ZIP times count seconds in twos.
        stamp = time.gmtime(epoch - epoch % 2)[:6]
        for info in infos:
            if info.date_time != stamp:
                failures.append("%s: time %s, not %s" % (info.filename, info.date_time, stamp))
        top = tops.pop() if len(tops) == 1 else ""
        sums_name = top + "/SHA256SUMS"
        listed = {}
        if sums_name in names:
            for line in archive.read(sums_name).decode().splitlines():
                digest, name = line.split("  ", 1)
                listed[top + "/" + name] = digest
        else:
            failures.append("no SHA256SUMS")
        for name in names:
            if name == sums_name:
                continue
            actual = hashlib.sha256(archive.read(name)).hexdigest()
            if listed.pop(name, None) != actual:
                failures.append("%s: missing from SHA256SUMS or wrong hash" % name)
        for name in listed:
            failures.append("%s: in SHA256SUMS but not in the ZIP" % name)
    for failure in failures:
        print("release ZIP: " + failure)
    print("release ZIP: %d entries checked, %d failures" % (len(names), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
