#!/usr/bin/env bash
# Every script's --help prints the script's own opening comment and starts
# nothing; an unknown argument is refused on one line with exit status 2,
# also before anything starts.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Stand-ins for everything a script could start: each one records its name.
mkdir "$work/bin"
for tool in apt-get apt-cache dpkg dpkg-query sudo cmake ctest ninja git wine wineboot \
  wineserver qemu-system-x86_64 osslsigncode clang clang++ flock setsid \
  debootstrap chroot mount umount wget gpgv tar; do
  printf '#!/bin/sh\necho %s >>"%s/started"\n' "$tool" "$work" >"$work/bin/$tool"
  chmod +x "$work/bin/$tool"
done

cases=0
failures=0
fail() { echo "FAIL: $*"; failed=1; }

# The first line of a script's opening comment (a Python script's docstring).
first_help_line() {
  sed -n '2{s/^# \{0,1\}//; s/^"""//; p}' "$1"
}

for script in bootstrap test demo reproduce stress bench fuzz-campaign vm-run wine-run \
  debian13 serve_envelope.py; do
  path=$root/scripts/$script
  rm -f "$work/started"
  failed=0
  status=0
  PATH=$work/bin:$PATH "$path" --help >"$work/out" 2>"$work/err" </dev/null || status=$?
  [ "$status" -eq 0 ] || fail "$script --help: exit status $status"
  [ "$(head -n 1 "$work/out")" = "$(first_help_line "$path")" ] ||
    fail "$script --help: starts '$(head -n 1 "$work/out")', not its opening comment"
  [ ! -s "$work/err" ] || fail "$script --help: wrote to standard error: $(head -n 1 "$work/err")"

  status=0
  PATH=$work/bin:$PATH "$path" --no-such-option >"$work/out" 2>"$work/err" </dev/null ||
    status=$?
  [ "$status" -eq 2 ] || fail "$script --no-such-option: exit status $status, not 2"
  [ "$(wc -l <"$work/err")" -eq 1 ] && grep -q -- --no-such-option "$work/err" ||
    fail "$script --no-such-option: not one line naming it: $(cat "$work/err")"
  [ ! -s "$work/started" ] || fail "$script started $(sort -u "$work/started" | paste -s -d ' ')"
  cases=$((cases + 1))
  failures=$((failures + failed))
done

echo "$((cases - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
