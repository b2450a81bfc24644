#!/usr/bin/env bash
# .ci/run with stand-ins for the two commands and the Debian 13 leg: a leg
# that the package mirror kept from installing (75) is passed over while the
# other leg tested everything, and fails CI when both were kept; any other
# failure fails CI with its own status.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/.ci" "$work/scripts"
cp "$root/.ci/run" "$work/.ci/run"
# Each stand-in exits with the status its variable names (default 0).
for name in demo test debian13; do
  printf '#!/bin/sh\necho "ran %s"\nexit ${STANDIN_%s:-0}\n' "$name" "$name" >"$work/scripts/$name"
  chmod +x "$work/scripts/$name"
done

failures=0
# demo test debian13 -> exit status, a fragment of the output
while read -r demo test leg want fragment; do
  status=0
  out=$(STANDIN_demo=$demo STANDIN_test=$test STANDIN_debian13=$leg bash "$work/.ci/run" 2>&1) ||
    status=$?
  if [ "$status" -ne "$want" ] || ! grep -q -- "${fragment//_/ }" <<<"$out"; then
    echo "FAIL: demo=$demo test=$test debian13=$leg: status $status, want $want and '$fragment'"
    echo "$out"
    failures=$((failures + 1))
  fi
done <<'CASES'
0 0 0 0 done_in
75 0 0 0 goes_on_with_the_Debian_13_leg's_result
0 75 0 0 goes_on_with_the_Debian_13_leg's_result
0 0 75 0 goes_on_with_this_host's_leg's_result
75 0 75 75 nothing_was_tested
0 1 0 1 this_host's_leg_failed_with_exit_status_1
0 0 3 3 the_Debian_13_leg_failed_with_exit_status_3
CASES
echo "$((7 - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
