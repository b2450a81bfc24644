# Helpers shared by the scripts in this folder: source it, do not run it.
# Needs kv_root, the repository root.

# Prints the script's leading comment block, its help.
kv_usage() { sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; }

# For a script that takes no arguments: --help prints its usage and ends it;
# anything else is refused on one line, with exit status 2.
kv_take_no_arguments() {
  case ${1:-} in
    '') return 0 ;;
    -h | --help) kv_usage; exit 0 ;;
    *) echo "$(basename "$0"): unknown argument $1 (see --help)" >&2; exit 2 ;;
  esac
}

# The major version of the one LLVM the build uses.
kv_llvm_version() { cat "$kv_root/cmake/llvm-version"; }

kv_as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# The named Debian packages that are not installed, one a line.
kv_missing_packages() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

# Exit status when a package cannot be installed because the package mirror
# failed to update one of its indexes: EX_TEMPFAIL, the mirror's state and
# not the project's, so trying again later is the remedy.
kv_mirror_status=75

# Refreshes the package lists, once per script run. A mirror caught mid-sync
# fails an index for minutes: try KVFETCH_APT_TRIES times (default 4),
# KVFETCH_APT_RETRY_DELAY seconds apart (default 60), saying each time what
# failed; then go on with the lists apt has, whose packages may not need the
# broken index. kv_apt_failed then names the failed indexes.
kv_apt_update() {
  [ -n "${kv_apt_updated:-}" ] && return 0
  kv_apt_updated=1
  local tries=${KVFETCH_APT_TRIES:-4} delay=${KVFETCH_APT_RETRY_DELAY:-60} try log next
  log=$(mktemp)
  for try in $(seq 1 "$tries"); do
    kv_apt_failed=
    if kv_as_root apt-get update -qq >"$log" 2>&1; then break; fi
    kv_apt_failed=$(kv_apt_failed_indexes <"$log")
    next="going on with the package lists apt already has"
    [ "$try" -lt "$tries" ] && next="trying again in $delay s"
    echo "$(basename "$0"): apt-get update failed (try $try of $tries):" \
      "${kv_apt_failed:-$(grep -m 1 . "$log")}; $next" >&2
    [ "$try" -lt "$tries" ] && sleep "$delay"
  done
  rm -f "$log"
  return 0
}

# From apt-get update's output, the indexes it failed to fetch with apt's
# reasons, "URL (reason)", on one line.
kv_apt_failed_indexes() {
  sed -n 's/^E: Failed to fetch \([^ ]*\) *\(.*\)$/\1 (\2)/p' |
    sed 's/ *\[IP: [^]]*\])$/)/' | paste -s -d ';' | sed 's/;/; /g'
}

# Installs those of the named packages that are missing. When that fails,
# ends the script with one line naming the first package that cannot be had
# and, if the update failed, the index and that this is the mirror's state
# (exit 75); otherwise with apt's status.
kv_install_packages() {
  local missing status=0
  missing=$(kv_missing_packages "$@")
  [ -z "$missing" ] && return 0
  echo "== installing" $missing
  kv_apt_update
  # shellcheck disable=SC2086
  kv_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    -o DPkg::Lock::Timeout=300 $missing || status=$?
  [ "$status" -eq 0 ] && return 0
  local package culprit=
  for package in $missing; do
    if ! apt-get install -s -qq "$package" >/dev/null 2>&1; then culprit=$package && break; fi
  done
  culprit=${culprit:-$(echo $missing)}
  if [ -n "${kv_apt_failed:-}" ]; then
    echo "$(basename "$0"): cannot install $culprit: the package index" \
      "$kv_apt_failed failed to update, and it may need that index;" \
      "this is the package mirror's state, not this project's: try again later" >&2
    exit $kv_mirror_status
  fi
  echo "$(basename "$0"): cannot install $culprit (apt's words above)" >&2
  exit "$status"
}

# A Wine prefix counts as made only once this file is in it: wine-run writes
# it last, after the prefix's wineserver has saved the registry to disk.
kv_prefix_stamp=kvfetch-prefix-finished
# What every publisher check needs of a prefix: wintrust's Authenticode
# action (WINTRUST_ACTION_GENERIC_VERIFY_V2), as its registry names it.
kv_authenticode_key='Trust\\\\FinalPolicy\\\\{00AAC56B-CD44-11D0-8CC2-00C04FC295EE}'

# Stops a prefix's wineserver the way that saves its registry, and waits for
# it to end. A wineserver saves only every 30 s and on SIGTERM; wineserver -k
# sends SIGINT, on which it exits without saving.
kv_save_and_stop_wineserver() {  # prefix
  [ -d "$1" ] || return 0
  WINEPREFIX=$1 wineserver -k15 >/dev/null 2>&1 || return 0
  WINEPREFIX=$1 wineserver -w >/dev/null 2>&1 || true
}

# Stops the wineserver of a build tree's private prefix, if it has one.
kv_stop_wineserver() {  # build-dir
  kv_save_and_stop_wineserver "$1/wineprefix"
}

# Serves an envelope on 127.0.0.1 in the background and waits for its port:
# sets kv_service_pid and kv_service_port. kv_stop_service ends it.
kv_serve_envelope() {  # envelope work-dir [log]
  local envelope=$1 work=$2 log=${3:-/dev/null}
  python3 "$kv_root/scripts/serve_envelope.py" "$envelope" "$work/port" 2>"$log" &
  kv_service_pid=$!
  for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
  if [ ! -s "$work/port" ]; then
    echo "$(basename "$0"): the local service did not start" >&2
    return 1
  fi
  kv_service_port=$(cat "$work/port")
}

kv_stop_service() {
  if [ -n "${kv_service_pid:-}" ]; then
    kill "$kv_service_pid" 2>/dev/null || true
    wait "$kv_service_pid" 2>/dev/null || true
    kv_service_pid=
  fi
  return 0
}

# --- Where Wine runs -------------------------------------------------------
# Exit status of a script or wine-run when Wine cannot start a 32-bit program
# on this host by either path: EX_UNAVAILABLE, never one of kvfetch's.
kv_no_wine_status=69

kv_deps_dir() { echo "${KVFETCH_DEPS:-$kv_root/build/_deps}"; }

# Decides, once per script, how Windows programs run here; sets kv_wine_path
# to native (Wine on this kernel) or vm (Wine inside an emulated x86-64
# machine, scripts/vm-run) and kv_wine_why to the reason in a few words.
# KVFETCH_WINE=native|vm forces a path. What matters is whether Wine can start
# a 32-bit program, and an i386 program that merely runs proves nothing: a
# binfmt_misc emulator runs simple ones, yet Wine cannot start under it.
kv_choose_wine_path() {
  [ -n "${kv_wine_path:-}" ] && return 0
  if [ -n "${KVFETCH_IN_VM:-}" ]; then
    kv_wine_path=native kv_wine_why="inside the emulated machine"
    return 0
  fi
  case ${KVFETCH_WINE:-} in
    native | vm)
      kv_wine_path=$KVFETCH_WINE kv_wine_why="forced by KVFETCH_WINE=$KVFETCH_WINE"
      return 0
      ;;
    '') ;;
    *)
      echo "$(basename "$0"): KVFETCH_WINE must be native or vm, not '$KVFETCH_WINE'" >&2
      exit 2
      ;;
  esac
  local loader=/lib/ld-linux.so.2 words emulator
  if [ ! -e $loader ]; then
    kv_wine_path=native kv_wine_why="no 32-bit loader installed yet to try"
  elif ! words=$($loader --version 2>&1 </dev/null); then
    words=$(printf '%s\n' "$words" | head -n 1 | sed 's/^.*: line [0-9]*: //')
    kv_wine_path=vm kv_wine_why="this host refuses 32-bit programs (${words:-$loader failed})"
  elif emulator=$(kv_i386_binfmt_emulator); then
    kv_wine_path=vm kv_wine_why="32-bit programs run here only through $emulator"
  else
    kv_wine_path=native kv_wine_why="this host runs 32-bit programs"
  fi
}

# The interpreter of an enabled binfmt_misc entry that takes i386 ELF files.
kv_i386_binfmt_emulator() {
  local entry
  for entry in /proc/sys/fs/binfmt_misc/*; do
    [ -f "$entry" ] || continue
    grep -qx enabled "$entry" 2>/dev/null || continue
    # e_machine 3 (EM_386) in an ELF32 header: magic ...0300 at offset 18.
    grep -q '^magic 7f454c4601010100000000000000000002000300' "$entry" || continue
    sed -n 's/^interpreter //p' "$entry"
    return 0
  done
  return 1
}

# Says which path this script takes, on one line.
kv_say_wine_path() {
  kv_choose_wine_path
  case $kv_wine_path in
    native) echo "== Wine: on this host ($kv_wine_why)" ;;
    vm) echo "== Wine: in an emulated x86-64 machine ($kv_wine_why; KVFETCH_WINE=native forces the host)" ;;
  esac
}

# Runs a command where Wine runs: here, or in one emulated machine. Returns
# its status; ends the script with 69 when Wine could not start (wine-run or
# vm-run has said why on one line).
kv_wine_side() {
  kv_choose_wine_path
  local rc=0
  if [ "$kv_wine_path" = vm ] && [ -z "${KVFETCH_IN_VM:-}" ]; then
    "$kv_root/scripts/vm-run" "$@" || rc=$?
  else
    "$@" || rc=$?
  fi
  [ "$rc" -ne "$kv_no_wine_status" ] || exit "$rc"
  return "$rc"
}

# Ends the script: Wine cannot run here, for the reason given.
kv_no_wine() {  # reason
  echo "$(basename "$0"): Wine cannot start 32-bit programs here: $1" >&2
  exit $kv_no_wine_status
}

# What the emulated machine is made of, all from Debian's archive.
kv_vm_packages=(qemu-system-x86 cpio)
# The modules the guest needs: their dependencies come from the modules
# themselves, since kernels differ in what is a module at all (from 6.8 on,
# fscache is part of netfs) and in what is built in (13's virtio).
kv_vm_modules=(virtio_pci 9pnet_virtio 9p)

# Unpacks Debian's kernel and a static busybox into the dependency cache,
# never installing them on the host; sets kv_vm_dir. Quick once done.
kv_vm_fetch() {
  kv_vm_dir=$(kv_deps_dir)/vm
  [ -f "$kv_vm_dir/ready" ] && return 0
  local kernel_package debs
  kv_apt_update
  kernel_package=$(apt-cache depends linux-image-amd64 2>/dev/null |
    sed -n 's/^ *Depends: \(linux-image-[0-9].*\)$/\1/p' | head -n 1)
  [ -n "$kernel_package" ] || kv_no_wine "the emulated machine needs a kernel, and apt knows no linux-image-amd64"
  debs=$kv_vm_dir/debs
  rm -rf "$kv_vm_dir"
  mkdir -p "$debs"
  echo "== fetching $kernel_package and busybox-static for the emulated machine"
  (cd "$debs" && apt-get download -qq "$kernel_package" busybox-static 2>&1 |
    grep -v 'unsandboxed' >&2) || true
  local deb
  for deb in "$debs"/*.deb; do
    [ -f "$deb" ] || kv_no_wine "could not download $kernel_package and busybox-static"
    dpkg -x "$deb" "$kv_vm_dir/root"
  done
  rm -rf "$debs"
  touch "$kv_vm_dir/ready"
}

# Builds the guest's initramfs from the unpacked packages and scripts/vm/init;
# sets kv_vm_kernel and kv_vm_initrd.
kv_vm_image() {
  kv_vm_fetch
  local unpacked=$kv_vm_dir/root staging usr=
  # Debian 13's packages keep their files under /usr only (merged /usr).
  [ -e "$unpacked/bin/busybox" ] || usr=/usr
  kv_vm_kernel=$(ls "$unpacked"/boot/vmlinuz-* | head -n 1)
  kv_vm_initrd=$kv_vm_dir/initrd.img
  staging=$(mktemp -d "$kv_vm_dir/initrd.XXXXXX")
  mkdir -p "$staging"/{bin,lib/modules,proc,sys,dev,tmp}
  cp "$unpacked$usr/bin/busybox" "$staging/bin/busybox"
  cp "$kv_root/scripts/vm/init" "$staging/init"
  kv_vm_select_modules "$unpacked$usr/lib/modules/${kv_vm_kernel##*/vmlinuz-}" "$staging/lib/modules"
  (cd "$staging" && find . | cpio -o -H newc --quiet | gzip -1) >"$kv_vm_initrd.new"
  mv "$kv_vm_initrd.new" "$kv_vm_initrd"
  rm -rf "$staging"
}

# Copies kv_vm_modules and what they depend on from a kernel's module folder
# into the initramfs's, uncompressed (busybox insmod reads plain .ko files
# only), skipping those built in; lists them in load order in its load-order.
# Ends the script when one is neither built in nor there.
kv_vm_select_modules() {  # kernel-modules-dir initramfs-modules-dir
  local from=$1 to=$2 seen=' ' module
  mkdir -p "$to"
  : >"$to/load-order"
  for module in "${kv_vm_modules[@]}"; do kv_vm_add_module "$module"; done
}

# One module for kv_vm_select_modules, after its dependencies (.modinfo's
# depends=: Debian's packages ship no modules.dep). Uses its from, to, seen.
kv_vm_add_module() {  # name
  local name=$1 path dep
  case $seen in *" $name "*) return 0 ;; esac
  seen="$seen$name "
  if grep -q "/$name\.ko\$" "$from/modules.builtin" 2>/dev/null; then return 0; fi
  path=$(find "$from" \( -name "$name.ko" -o -name "$name.ko.xz" -o -name "$name.ko.zst" \) \
    -print -quit 2>/dev/null)
  [ -n "$path" ] || kv_no_wine "the kernel ${from##*/} has no module $name, built in or not"
  case $path in
    *.xz) xz -dc "$path" ;;
    *.zst)
      command -v zstd >/dev/null || kv_no_wine "the kernel's module $name is zstd-compressed: install zstd"
      zstd -dcq "$path"
      ;;
    *) cat "$path" ;;
  esac >"$to/$name.ko" || kv_no_wine "cannot decompress the kernel's module $path"
  for dep in $(tr '\0' '\n' <"$to/$name.ko" | sed -n 's/^depends=//p' | tr ',' ' '); do
    kv_vm_add_module "$dep"
  done
  echo "$name" >>"$to/load-order"
}
