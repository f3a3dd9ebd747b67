#!/bin/bash
# Installs fan control, or installs it again. Where a package installed the unit tarnwickd.service
# for the daemon beside this script, it enables and starts that unit. Elsewhere (a build tree) it
# copies the daemon to /usr/local/sbin/tarnwickd, the unit to /etc/systemd/system and the sleep
# hook (it hands the fans back before the machine sleeps) to systemd's system-sleep folder, and
# starts the daemon. Either way the settings folder /var/lib/tarnwick then belongs to the account
# that asked (pkexec's PKEXEC_UID, sudo's SUDO_UID, else root), and an installation under the
# unit's former name is moved over. Under a sandbox root (TARNWICK_ROOT) the files go under the
# root and the daemon runs as the calling user. On failure: a message on the last line of
# standard error and a non-zero exit status.
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
if ! packaged; then
    [ -f "$bundled_unit" ] || fail "the service unit is missing beside this script: $bundled_unit"
    [ -f "$bundled_hook" ] || fail "the sleep hook is missing beside this script: $bundled_hook"
fi
require_root_for_system
take_script_lock

# The account the settings belong to: the one that asked for the install. Only root can give
# them to another account, so a sandbox run keeps them its own.
owner=${PKEXEC_UID:-${SUDO_UID:-0}}
if [ "$(id -u)" -ne 0 ]; then owner=$(id -u); fi
[[ "$owner" =~ ^[0-9]+$ ]] || fail "the installing account's number is not a number: $owner"
owner_group=$(id -g -- "$owner" 2>/dev/null) || fail "no account has the number $owner"

# The settings folder and file belong to the owner, writable by it alone and readable by the
# daemon (root without the capability to read past file modes) whatever the umask. A shared
# folder of an earlier version (mode 01777), a file saved by another account, and the leftovers
# of saves that other accounts broke off are brought into that shape.
prepare_settings() {
    local file="$settings_dir/config.json" leftover
    [ ! -L "$settings_dir" ] || fail "$settings_dir is a link; remove it and install again"
    mkdir -p -- "$settings_dir" || fail "cannot create $settings_dir"
    [ -d "$settings_dir" ] || fail "$settings_dir is not a folder; remove it and install again"
    if ! chown -- "$owner:$owner_group" "$settings_dir" || ! chmod 0755 -- "$settings_dir"; then
        fail "cannot hand $settings_dir to account $owner"
    fi
    for leftover in "$settings_dir"/.config.json.*; do
        if [ -e "$leftover" ] && [ "$(stat -c %u -- "$leftover")" != "$owner" ]; then
            rm -f -- "$leftover"
        fi
    done
    if [ -f "$file" ] && [ ! -L "$file" ]; then
        if ! chown -- "$owner:$owner_group" "$file" || ! chmod 0644 -- "$file"; then
            fail "cannot hand $file to account $owner"
        fi
    fi
}

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

# On Apple silicon the fans are the macsmc_hwmon driver's fan<N>_target files, whose folder
# systemd cannot name ahead of time: the unit gets exactly these, resolved now, as a drop-in that
# serves the packaged unit and a copied one alike. A stale drop-in from another machine's files
# goes.
write_driver_dropin() {
    local hwmon target dropin_text driver_targets=()
    for hwmon in "$(under /sys/class/hwmon)"/hwmon*; do
        [ "$(cat -- "$hwmon/name" 2>/dev/null)" = macsmc_hwmon ] || continue
        for target in "$hwmon"/fan*_target; do
            [ -e "$target" ] && driver_targets+=("$(readlink -f -- "$target")")
        done
    done
    if [ "${#driver_targets[@]}" -eq 0 ]; then
        rm -f -- "$driver_dropin"
        return 0
    fi
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
}

# An installation under the unit's former name goes first: its stop hands the fans back, and
# two daemons must never hold them.
remove_legacy_unit() {
    [ -e "$legacy_unit" ] || return 0
    if ! sandboxed; then
        stop_system_daemon "$legacy_unit_name"
        systemctl disable --quiet -- "$legacy_unit_name" 2>/dev/null || true
    fi
    rm -f -- "$legacy_unit" "$legacy_unit.d/macsmc-hwmon.conf" || fail "cannot remove $legacy_unit"
    rmdir -- "$legacy_unit.d" 2>/dev/null || true
}

prepare_settings

if packaged; then
    # The package owns the daemon, the unit and the hook; copies that a build tree's install.sh
    # left would shadow them, and go (the hook only where it is not the package's own file).
    was_enabled=
    if [ -e "$enabled_link" ]; then was_enabled=1; fi
    remove_legacy_unit
    if [ -e "$daemon_unit" ]; then
        stop_system_daemon
        rm -f -- "$daemon_unit" "$daemon_binary" || fail "cannot remove the copied daemon"
    fi
    packaged_hook="$(dirname -- "$packaged_unit")/../system-sleep/tarnwick"
    if [ -f "$sleep_hook" ] && [ ! "$sleep_hook" -ef "$packaged_hook" ]; then rm -f -- "$sleep_hook"; fi
    write_driver_dropin
    systemctl daemon-reload || fail "systemctl daemon-reload failed"
    systemctl enable --quiet -- "$unit_name" || fail "cannot enable $unit_name"
    if ! systemctl restart -- "$unit_name"; then
        # A failed first install leaves fan control off, as it found it.
        if [ -z "$was_enabled" ]; then systemctl disable --quiet --now -- "$unit_name" || true; fi
        fail "tarnwickd did not start (journalctl -u $unit_name tells why)"
    fi
    exit 0
fi

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
            # An enabling link left pointing at nothing.
            if [ -L "$enabled_link" ] && [ ! -e "$enabled_link" ]; then rm -f -- "$enabled_link"; fi
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

remove_legacy_unit
# Stop the running copy first: it hands the fans back, and its executable is then free to replace.
if sandboxed; then stop_sandbox_daemon; else stop_system_daemon; fi
stop_lock_holder

put_file "$bundled_daemon" "$daemon_binary" 0755
put_file "$bundled_unit" "$daemon_unit" 0644
# A package's hook sits at the same place and serves this copy as well.
if [ -z "$packaged_unit" ]; then put_file "$bundled_hook" "$sleep_hook" 0755; fi
write_driver_dropin

if sandboxed; then
    # What `systemctl enable` would make: the application's sign that fan control is installed.
    if ! mkdir -p -- "$(dirname -- "$enabled_link")" ||
        ! ln -sfn -- "../$unit_name" "$enabled_link"; then
        fail "cannot create $enabled_link"
    fi
    start_sandbox_daemon
else
    systemctl daemon-reload || fail "systemctl daemon-reload failed"
    systemctl enable --quiet -- "$unit_name" || fail "cannot enable $unit_name"
    systemctl restart -- "$unit_name" ||
        fail "tarnwickd did not start (journalctl -u $unit_name tells why)"
fi
installed=1
