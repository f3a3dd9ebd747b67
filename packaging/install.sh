#!/bin/bash
# Installs the fan-control daemon that sits beside this script, or replaces an installed one:
# an exact copy of it at /usr/local/sbin/tarnwickd, the systemd unit com.tarnwick.helper.service
# in /etc/systemd/system, the sleep hook in systemd's system-sleep folder (it hands the fans back
# before the machine sleeps), and the daemon started. Under a sandbox root (TARNWICK_ROOT) the same
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
bundled_hook="$here/tarnwick-sleep"
[ -f "$bundled_daemon" ] || fail "the daemon is missing beside this script: $bundled_daemon"
[ -f "$bundled_unit" ] || fail "the service unit is missing beside this script: $bundled_unit"
[ -f "$bundled_hook" ] || fail "the sleep hook is missing beside this script: $bundled_hook"
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

# A failed install leaves the machine as it found it: the files that were there come back (and the
# daemon that ran is started again), the files that were not are removed. `fail` exits, and the
# trap below undoes what was done; its own output would hide the reason, so it stays quiet.
backup=$(mktemp -d -- "${TMPDIR:-/tmp}/tarnwick-install.XXXXXX") || fail "cannot create a temporary folder"
was_running=
if sandboxed; then
    if [ -f "$pid_file" ] && is_sandbox_daemon "$(head -c 32 -- "$pid_file" | tr -cd '0-9')"; then
        was_running=1
    fi
else
    if systemctl is-active --quiet -- "$unit_name" 2>/dev/null; then was_running=1; fi
fi
for file in "$daemon_binary" "$daemon_unit"; do
    if [ -e "$file" ]; then cp -p -- "$file" "$backup/$(basename -- "$file")" || fail "cannot back up $file"; fi
done
installed=
undo() {
    local status=$? file
    if [ -z "$installed" ]; then
        (
            for file in "$daemon_binary" "$daemon_unit"; do
                if [ -e "$backup/$(basename -- "$file")" ]; then
                    cp -p -- "$backup/$(basename -- "$file")" "$file"
                else
                    rm -f -- "$file"
                fi
            done
            if sandboxed; then
                stop_sandbox_daemon
                if [ -n "$was_running" ]; then start_sandbox_daemon; fi
            else
                systemctl daemon-reload
                if [ -n "$was_running" ]; then systemctl restart -- "$unit_name"; fi
            fi
        ) >/dev/null 2>&1 || true
    fi
    rm -rf -- "$backup"
    exit "$status"
}
trap undo EXIT

# The settings folder, as the daemon keeps it: the application writes the user's settings there
# right after the install, before the daemon's first pass.
settings_dir=$(under /var/lib/tarnwick)
if ! mkdir -p -- "$settings_dir" || ! chmod 1777 -- "$settings_dir"; then
    fail "cannot create $settings_dir"
fi

# Stop the running copy first: it hands the fans back, and its executable is then free to replace.
if sandboxed; then stop_sandbox_daemon; else stop_system_daemon; fi
stop_lock_holder

put_file "$bundled_daemon" "$daemon_binary" 0755
put_file "$bundled_unit" "$daemon_unit" 0644
put_file "$bundled_hook" "$sleep_hook" 0755

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
installed=1
