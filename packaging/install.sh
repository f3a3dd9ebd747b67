#!/bin/bash
# Installs the fan-control daemon that sits beside this script, or replaces an installed one:
# an exact copy of it at /usr/local/sbin/tarnwickd, the systemd unit com.tarnwick.helper.service
# in /etc/systemd/system, and the daemon started. Under a sandbox root (TARNWICK_ROOT) the same
# files go under the root and the daemon runs as the calling user. On failure: a message on the
# last line of standard error and a non-zero exit status.
if [ -z "${BASH_VERSION:-}" ]; then exec /bin/bash "$0" "$@"; fi
set -euo pipefail
umask 022
script_name=install.sh
here=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd) || {
    echo "install.sh: cannot find the folder of this script" >&2
    exit 1
}
# shellcheck source=tarnwickd-common.sh
. "$here/tarnwickd-common.sh"

bundled_daemon="$here/tarnwickd"
bundled_unit="$here/$unit_name"
[ -f "$bundled_daemon" ] || fail "the daemon is missing beside this script: $bundled_daemon"
[ -f "$bundled_unit" ] || fail "the service unit is missing beside this script: $bundled_unit"
require_root_for_system
take_script_lock

# Copies `source` to `target` through a temporary file in the target's folder, so that the target
# is replaced in one step and never seen half written.
put_file() {
    local source=$1 target=$2 mode=$3 folder tmp
    folder=$(dirname -- "$target")
    mkdir -p -- "$folder" || fail "cannot create $folder"
    tmp=$(mktemp -- "$folder/.tarnwick-install.XXXXXX") || fail "cannot write in $folder"
    if ! cp -- "$source" "$tmp" || ! chmod "$mode" -- "$tmp" || ! mv -f -- "$tmp" "$target"; then
        rm -f -- "$tmp"
        fail "cannot install $target"
    fi
    cmp -s -- "$source" "$target" || fail "$target differs from $source after copying"
}

# Stop the running copy first: it hands the fans back, and its executable is then free to replace.
if sandboxed; then stop_sandbox_daemon; else stop_system_daemon; fi
stop_lock_holder

put_file "$bundled_daemon" "$daemon_binary" 0755
put_file "$bundled_unit" "$daemon_unit" 0644

# On Apple silicon the fans are the macsmc_hwmon driver's fan<N>_target files, whose folder
# systemd cannot name ahead of time: the unit gets exactly these, resolved now. A stale drop-in
# from another machine's files goes.
driver_targets=()
for hwmon in "$(under /sys/class/hwmon)"/hwmon*; do
    [ "$(cat -- "$hwmon/name" 2>/dev/null)" = macsmc_hwmon ] || continue
    for target in "$hwmon"/fan*_target; do
        [ -e "$target" ] && driver_targets+=("$(readlink -f -- "$target")")
    done
done
if [ "${#driver_targets[@]}" -gt 0 ]; then
    dropin_text="# Written by install.sh: the macsmc_hwmon fan targets the daemon may write.
[Service]"
    for target in "${driver_targets[@]}"; do
        sandboxed && target=${target#"$root"}
        dropin_text+=$'\n'"ReadWritePaths=-$target"
    done
    mkdir -p -- "$(dirname -- "$driver_dropin")" || fail "cannot create $(dirname -- "$driver_dropin")"
    if ! printf '%s\n' "$dropin_text" >"$driver_dropin.tmp" ||
        ! mv -f -- "$driver_dropin.tmp" "$driver_dropin"; then
        fail "cannot install $driver_dropin"
    fi
else
    rm -f -- "$driver_dropin"
fi

if sandboxed; then
    start_sandbox_daemon
else
    systemctl daemon-reload || fail "systemctl daemon-reload failed"
    systemctl enable --quiet -- "$unit_name" || fail "cannot enable $unit_name"
    systemctl restart -- "$unit_name" ||
        fail "tarnwickd did not start (journalctl -u $unit_name tells why)"
fi
