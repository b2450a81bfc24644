#!/usr/bin/env bash
# A Wine prefix is whole or absent. A prefix that a machine left half-made
# (a registry file, no finished mark) is made again, with one line saying so;
# right after wine-run has made it, its wineserver is killed with no chance
# to save, as a power-off would, and the machine stops (on a host without
# 32-bit support this all happens in an emulated machine that powers off at
# once). Then, in a new machine, WinVerifyTrust must still know Authenticode:
# the signed test modules verify and the unsigned one is refused.
#
#   tests/scripts/prefix_poweroff_test.sh BUILD_DIR      (the win32 build tree)
set -euo pipefail
kv_root=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=../../scripts/lib.sh
. "$kv_root/scripts/lib.sh"
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'kv_save_and_stop_wineserver "$work/wineprefix"; rm -rf "$work"' EXIT

export WINEPREFIX=$work/wineprefix KVFETCH_WINE_BUILD=$build
mkdir -p "$WINEPREFIX"
echo 'WINE REGISTRY Version 2' >"$WINEPREFIX/system.reg"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# In an emulated machine its standard output and error arrive together.
kv_wine_side bash -c '"$1/scripts/wine-run" --prepare && wineserver -k9' make-prefix "$kv_root" \
  >"$work/make.out" 2>&1 || fail "making the prefix: $(tail -n 3 "$work/make.out")"
grep -q "prefix $WINEPREFIX was never finished: making it again" "$work/make.out" ||
  fail "the half-made prefix was not announced as made again: $(cat "$work/make.out")"
[ -f "$WINEPREFIX/$kv_prefix_stamp" ] || fail "the prefix was not marked finished"
# What reached the disk, before any Wine start could mend the prefix.
grep -q "$kv_authenticode_key" "$WINEPREFIX/system.reg" ||
  fail "marked finished, yet the registry on disk lacks the Authenticode provider"

kv_wine_side "$kv_root/scripts/wine-run" "$build/bin/trust_tests.exe" \
  --gtest_filter='PublisherCheckSystemTest.*' >"$work/trust.out" 2>&1 ||
  fail "WinVerifyTrust in the prefix made before the power-off: $(grep -E 'FAILED|Failure' "$work/trust.out" | head -n 5)"
! grep -q "making it again" "$work/trust.out" || fail "a finished prefix was made again"

echo "$((failures == 0)) passed, $((failures > 0)) failed"
[ "$failures" -eq 0 ]
