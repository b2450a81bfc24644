#!/usr/bin/env bash
# The package install of the scripts (kv_install_packages in scripts/lib.sh)
# against a stand-in apt-get that fails `update` as apt does on a mirror
# caught mid-sync: retried, then named, with an exit status of its own when
# the install needs what the broken index held. No network is used.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The stand-in: `update` fails STANDIN_UPDATE_FAILURES times, then works;
# installing (or simulating) STANDIN_BROKEN_PACKAGE fails as apt does.
mkdir "$work/bin"
cat >"$work/bin/apt-get" <<'STANDIN'
#!/bin/sh
echo "$*" >>"$STANDIN_LOG"
case " $* " in
  *" update "*)
    count=$(grep -cw update "$STANDIN_LOG")
    [ "$count" -gt "${STANDIN_UPDATE_FAILURES:-0}" ] && exit 0
    echo "E: Failed to fetch http://mirror.invalid/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 192.0.2.1 80]"
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
    exit 100
    ;;
  *" install "*)
    case " $* " in *" ${STANDIN_BROKEN_PACKAGE:-none} "*)
      echo "E: Unable to correct problems, you have held broken packages." >&2
      exit 100
      ;;
    esac
    ;;
esac
exit 0
STANDIN
chmod +x "$work/bin/apt-get"

index='http://mirror.invalid/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz (File has unexpected size (374820 != 376004). Mirror sync in progress?)'
cases=0
failures=0

# scenario NAME UPDATE_FAILURES BROKEN_PACKAGE STATUS UPDATES LAST_LINE
scenario() {
  local name=$1 status=0 failed=0
  : >"$work/apt.log"
  STANDIN_LOG=$work/apt.log STANDIN_UPDATE_FAILURES=$2 STANDIN_BROKEN_PACKAGE=$3 \
    KVFETCH_APT_TRIES=3 KVFETCH_APT_RETRY_DELAY=0 PATH=$work/bin:$PATH \
    bash -c 'kv_root=$1; . "$kv_root/scripts/lib.sh"; kv_as_root() { "$@"; }
             kv_install_packages kvfetch-standin-a kvfetch-standin-b' bootstrap "$root" \
    >"$work/out" 2>"$work/err" || status=$?
  [ "$status" -eq "$4" ] || { echo "FAIL $name: exit status $status, not $4"; failed=1; }
  [ "$(grep -cw update "$work/apt.log")" -eq "$5" ] ||
    { echo "FAIL $name: $(grep -cw update "$work/apt.log") updates, not $5"; failed=1; }
  [ "$(tail -n 1 "$work/err")" = "$6" ] ||
    { echo "FAIL $name: last line '$(tail -n 1 "$work/err")', not '$6'"; failed=1; }
  cases=$((cases + 1))
  failures=$((failures + failed))
}

scenario "mirror recovers on the third try" 2 none 0 3 \
  "bootstrap: apt-get update failed (try 2 of 3): $index; trying again in 0 s"
scenario "index stays broken, install does not need it" 9 none 0 3 \
  "bootstrap: apt-get update failed (try 3 of 3): $index; going on with the package lists apt already has"
scenario "index stays broken, install needs it" 9 kvfetch-standin-b 75 3 \
  "bootstrap: cannot install kvfetch-standin-b: the package index $index failed to update, and it may need that index; this is the package mirror's state, not this project's: try again later"
scenario "update works, install fails" 0 kvfetch-standin-a 100 1 \
  "bootstrap: cannot install kvfetch-standin-a (apt's words above)"

# apt's checks of what it downloads stay on: nothing turns them off.
if grep -n -E 'AllowInsecure|AllowUnauthenticated|allow-unauthenticated|Check-Valid-Until|trusted=yes' \
  -r "$root/scripts"; then
  echo "FAIL: a script turns off apt's checks"
  failures=$((failures + 1))
fi
cases=$((cases + 1))

echo "$((cases - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
