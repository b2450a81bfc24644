# Helpers shared by the scripts in this folder: source it, do not run it.
# Needs kv_root, the repository root.

kv_as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# The named Debian packages that are not installed, one a line.
kv_missing_packages() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

# Refreshes the package lists, once per script run.
kv_apt_update() {
  [ -n "${kv_apt_updated:-}" ] && return 0
  kv_as_root apt-get update -qq
  kv_apt_updated=1
}

# Installs those of the named packages that are missing.
kv_install_packages() {
  local missing
  missing=$(kv_missing_packages "$@")
  [ -z "$missing" ] && return 0
  echo "== installing" $missing
  kv_apt_update
  # shellcheck disable=SC2086
  kv_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    $missing
}

# Stops the wineserver of a build tree's private prefix, if it has one.
kv_stop_wineserver() {  # build-dir
  if [ -d "$1/wineprefix" ]; then
    WINEPREFIX="$1/wineprefix" wineserver -k >/dev/null 2>&1 || true
  fi
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
