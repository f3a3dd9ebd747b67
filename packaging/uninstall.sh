#!/bin/bash
# Removes the fan-control daemon: stops it (it hands the fans back to the system as it stops),
# then deletes its executable, its systemd unit, its sleep hook and its status file. The user's settings stay.
# Under a sandbox root (TARNWICK_ROOT) it works on the files under the root. On failure: a message
# on the last line of standard error and a non-zero exit status.
if [ -z "${BASH_VERSION:-}" ]; then exec /bin/bash "$0" "$@"; fi
set -euo pipefail
umask 022
script_name=uninstall.sh
here=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")" && pwd) || {
    echo "uninstall.sh: cannot find the folder of this script" >&2
    exit 1
}
# shellcheck source=tarnwickd-common.sh
. "$here/tarnwickd-common.sh"

require_root_for_system
take_script_lock

if sandboxed; then
    stop_sandbox_daemon
    stop_lock_holder
    if [ -n "$found_dead" ]; then hand_back_sandbox; fi
    rm -f -- "$daemon_unit" "$driver_dropin" "$daemon_binary" "$sleep_hook" "$status_file" ||
        fail "cannot remove the daemon's files"
    rmdir -- "$daemon_unit.d" 2>/dev/null || true
else
    stop_system_daemon
    stop_lock_holder
    systemctl disable --quiet -- "$unit_name" 2>/dev/null || true
    rm -f -- "$daemon_unit" "$driver_dropin" "$daemon_binary" "$sleep_hook" "$status_file" ||
        fail "cannot remove the daemon's files"
    rmdir -- "$daemon_unit.d" 2>/dev/null || true
    systemctl daemon-reload || fail "systemctl daemon-reload failed"
    systemctl reset-failed -- "$unit_name" 2>/dev/null || true
fi
