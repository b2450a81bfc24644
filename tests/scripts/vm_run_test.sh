#!/usr/bin/env bash
# scripts/vm-run and its initramfs against stand-in kernels and a stand-in
# qemu-system-x86_64: the modules loaded and their order, KVM given up for
# TCG, a silent machine stopped. No network, no real guest.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cases=0
failures=0
check() { [ "$2" = "$3" ] || { echo "FAIL $name: $1 '$2', not '$3'"; failed=1; }; }
count() { cases=$((cases + 1)) failures=$((failures + failed)); }

# The stand-in hangs silently (STANDIN_FAULT hang, or kvm-hang under KVM),
# aborts under KVM as qemu does on some nested hosts (kvm-abort), or plays a
# guest: a heartbeat on the kernel's console, the job, its status.
mkdir "$work/bin"
cat >"$work/bin/qemu-system-x86_64" <<'STANDIN'
#!/usr/bin/env bash
accel=tcg
for arg in "$@"; do
  case $arg in
    kvm) accel=kvm ;;
    file:*) log=${arg#file:} ;;
    *kv.run=*) run=${arg##*kv.run=} ;;
  esac
done
echo "$accel" >>"$STANDIN_LOG"
case $STANDIN_FAULT:$accel in
  hang:* | kvm-hang:kvm) exec sleep 600 ;;
  kvm-abort:kvm) echo "qemu-system-x86_64: error: failed to set MSR 0x10a" >&2 && kill -ABRT $$ ;;
esac
while echo "vm: heartbeat" 2>/dev/null >>"$log"; do sleep 0.3; done &
status=0
bash "$run/job" || status=$?
echo "$status" >"$run/status"
kill $!
STANDIN
chmod +x "$work/bin/qemu-system-x86_64"

# A cache with kernel 6.1.0-test: BUILTIN its built-in modules, each
# NAME[.xz]=DEPENDS a module file holding its name and .modinfo's depends=.
# With xz modules, its files are under usr/ alone, as Debian 13 has them.
fake_kernel() {  # builtin module...
  local usr= entry name
  case "$*" in *.xz=*) usr=/usr ;; esac
  local tree=$work/deps/vm/root$usr/lib/modules/6.1.0-test
  rm -rf "$work/deps" && mkdir -p "$tree/kernel/fs" "$work/deps/vm/root/"{boot,"$usr"/bin}
  touch "$work/deps/vm/"{ready,root/boot/vmlinuz-6.1.0-test,"root$usr/bin/busybox"}
  printf 'kernel/drivers/%s.ko\n' $1 >"$tree/modules.builtin"
  for entry in "${@:2}"; do
    name=${entry%%[.=]*}
    printf 'module %s\0depends=%s\0' "$name" "${entry#*=}" >"$tree/kernel/fs/$name.ko"
    case $entry in *.xz=*) xz "$tree/kernel/fs/$name.ko" ;; esac
  done
}

# modules NAME STATUS LOAD-ORDER-OR-MESSAGE BUILTIN MODULE...
modules() {
  name=$1 failed=0
  local status=0 image=$work/image
  fake_kernel "${@:4}"
  KVFETCH_DEPS=$work/deps bash -c 'kv_root=$1; . "$1/scripts/lib.sh"; kv_vm_image' vm-run "$root" \
    >/dev/null 2>"$work/err" || status=$?
  check "exit status" "$status" "$2"
  if [ "$status" -ne 0 ]; then check "said" "$(cat "$work/err")" "$3"; count; return; fi
  rm -rf "$image" && mkdir "$image"
  (cd "$image" && gzip -dc "$work/deps/vm/initrd.img" | cpio -i --quiet)
  check "loads" "$(paste -s -d ' ' "$image/lib/modules/load-order")" "$3"
  check "9p.ko starts" "$(head -c 9 "$image/lib/modules/9p.ko")" "module 9p"
  count
}

virtio="virtio virtio_ring virtio_pci virtio_pci_legacy_dev virtio_pci_modern_dev"
modules "a module neither built in nor there" 69 \
  "vm-run: Wine cannot start 32-bit programs here: the kernel 6.1.0-test has no module netfs, built in or not" \
  "$virtio" 9pnet= 9pnet_virtio=9pnet 9p=9pnet,netfs
modules "Debian 12: plain modules, fscache apart" 0 \
  "virtio_ring virtio virtio_pci 9pnet 9pnet_virtio netfs fscache 9p" \
  "" virtio_ring= virtio=virtio_ring virtio_pci=virtio_ring,virtio 9pnet= \
  9pnet_virtio=virtio,9pnet netfs= fscache=netfs 9p=9pnet,fscache,netfs
modules "Debian 13: xz, virtio built in, fscache in netfs" 0 "9pnet 9pnet_virtio netfs 9p" \
  "$virtio" 9pnet.xz= 9pnet_virtio.xz=9pnet netfs.xz= 9p.xz=9pnet,netfs

# machine NAME FAULT KVM(yes/no) JOB_SECONDS STATUS ACCELS SCALE STDERR: a job
# that waits, prints its time scale and ends with 3. The cache (Debian 13's
# above) stays from case to case, and with it what it remembers of KVM.
machine() {
  name=$1 failed=0
  local status=0 device=$work/no-kvm
  [ "$3" = no ] || device=$work/kvm
  : >"$work/accels"
  STANDIN_LOG=$work/accels STANDIN_FAULT=$2 PATH=$work/bin:$PATH KVFETCH_DEPS=$work/deps \
    KVFETCH_VM_KVM_DEVICE=$device KVFETCH_VM_KVM_PROBE_SECONDS=2 KVFETCH_VM_WATCHDOG_SECONDS=2 \
    timeout 30 "$root/scripts/vm-run" bash -c 'sleep $0; printf "scale %s\0\r\n" "$KVFETCH_TIME_SCALE"; exit 3' \
    "$4" >"$work/out" 2>"$work/err" || status=$?
  check "exit status" "$status" "$5"
  check "ran under" "$(paste -s -d ' ' "$work/accels")" "$6"
  check "job's output" "$(od -An -c "$work/out")" "$([ -z "$7" ] || printf 'scale %s\0\r\n' "$7" | od -An -c)"
  check "said" "$(cat "$work/err")" "$8"
  count
}

touch "$work/kvm"
using_tcg=": using TCG (software emulation)"
machine "KVM boots: the job runs under it" none yes 0 3 kvm 2 ""
machine "KVM silent: TCG, with TCG's scale" kvm-hang yes 0 3 "kvm tcg" 10 \
  "vm-run: KVM showed no kernel output within 2 s$using_tcg"
machine "KVM failed earlier in this boot: not tried" none yes 0 3 tcg 10 \
  "vm-run: KVM failed earlier in this host boot$using_tcg"
rm "$work/deps/vm/kvm-failed"
machine "KVM's qemu aborts: its words on the one line" kvm-abort yes 0 3 "kvm tcg" 10 \
  "vm-run: KVM failed before its kernel printed anything (qemu-system-x86_64 status 134: error: failed to set MSR 0x10a)$using_tcg"
machine "a quiet job outlives the watchdog by the heartbeat" none no 3 3 tcg 10 ""
machine "a silent machine: stopped by the watchdog" hang no 0 69 tcg "" \
  "vm-run: the emulated machine (TCG) printed nothing for 2 s: stopped it"

echo "$((cases - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
