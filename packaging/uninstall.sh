#!/bin/bash
# Removes fan control: stops the daemon (it hands the fans back to the system as it stops) and
# disables its unit, then deletes what install.sh copied (executable, unit, sleep hook) and the
# status file; a package's own files stay for the package manager. The user's settings stay.
# When the stopped daemon says a fan did not return to automatic control, it is started again and
# everything stays, so that the fans are kept at a safe speed until a later uninstall succeeds.
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
    if [ -n "$found_dead" ] && [ -z "$hand_back_failed" ]; then hand_back_sandbox; fi
    if [ -n "$hand_back_failed" ]; then
        start_sandbox_daemon
        hand_back_refused
    fi
    rm -f -- "$enabled_link" "$daemon_unit" "$driver_dropin" "$daemon_binary" "$sleep_hook" \
        "$status_file" "$legacy_unit" || fail "cannot remove the daemon's files"
    rmdir -- "$daemon_unit.d" 2>/dev/null || true
else
    for unit in "$legacy_unit_name" "$unit_name"; do
        stop_system_daemon "$unit"
        if [ -n "$hand_back_failed" ]; then
            systemctl start -- "$unit" || true
            hand_back_refused
        fi
    done
    stop_lock_holder
    systemctl disable --quiet -- "$unit_name" 2>/dev/null || true
    systemctl disable --quiet -- "$legacy_unit_name" 2>/dev/null || true
    # The package's hook is the same file on a merged /usr: it stays for the package manager.
    if [ -n "$packaged_unit" ] &&
        [ "$sleep_hook" -ef "$(dirname -- "$packaged_unit")/../system-sleep/tarnwick" ]; then
        copied_hook=
    else
        copied_hook=$sleep_hook
    fi
    rm -f -- "$daemon_unit" "$driver_dropin" "$daemon_binary" "$legacy_unit" \
        "$legacy_unit.d/macsmc-hwmon.conf" ${copied_hook:+"$copied_hook"} "$status_file" ||
        fail "cannot remove the daemon's files"
    rmdir -- "$daemon_unit.d" "$legacy_unit.d" 2>/dev/null || true
    systemctl daemon-reload || fail "systemctl daemon-reload failed"
    systemctl reset-failed -- "$unit_name" 2>/dev/null || true
fi
