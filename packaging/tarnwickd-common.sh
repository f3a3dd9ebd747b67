# shellcheck shell=bash disable=SC2034,SC2154
# Shared by install.sh and uninstall.sh (sourced, never run): where the daemon lives and how it is
# started and stopped. On the real machine systemd runs it: from the package's own unit where a
# package installed one beside these scripts, else from the copies these scripts put in place.
# Under a sandbox root (TARNWICK_ROOT set and not "/") it runs as the calling user, tracked by a
# pid file.

unit_name=tarnwickd.service
# The unit's name before it took the daemon's: an installation under it is moved to the new one.
legacy_unit_name=com.tarnwick.helper.service
start_timeout=15 # seconds for a started daemon to write its first status
stop_timeout=10  # seconds for a stopped daemon to hand the fans back and exit

fail() {
    echo "$script_name: $*" >&2
    exit 1
}

root=/
if [ -n "${TARNWICK_ROOT:-}" ]; then
    root=$(realpath -m -- "$TARNWICK_ROOT") || fail "bad TARNWICK_ROOT: $TARNWICK_ROOT"
fi
sandboxed() { [ "$root" != / ]; }

# Paths of the installed files, the same places the programs compute from the root.
under() {
    if sandboxed; then printf '%s%s\n' "$root" "$1"; else printf '%s\n' "$1"; fi
}
daemon_binary=$(under /usr/local/sbin/tarnwickd)
daemon_unit=$(under "/etc/systemd/system/$unit_name")
legacy_unit=$(under "/etc/systemd/system/$legacy_unit_name")
# What `systemctl enable` makes, and what the application takes for "installed".
enabled_link=$(under "/etc/systemd/system/multi-user.target.wants/$unit_name")
# systemd-sleep runs the hooks of its own library folder; /lib is where Debian 12's systemd looks
# (the same folder as /usr/lib wherever /usr is merged).
if sandboxed || [ ! -d /lib/systemd ]; then
    sleep_hook=$(under /usr/lib/systemd/system-sleep/tarnwick)
else
    sleep_hook=/lib/systemd/system-sleep/tarnwick
fi
# The unit's one addition on Apple silicon: write access to the fan target files, nothing else.
driver_dropin="$daemon_unit.d/macsmc-hwmon.conf"
settings_dir=$(under /var/lib/tarnwick)

# The unit a package installed, when there is one (on the real machine only).
packaged_unit=
if ! sandboxed; then
    for folder in /usr/lib/systemd/system /lib/systemd/system /usr/local/lib/systemd/system; do
        if [ -f "$folder/$unit_name" ]; then
            packaged_unit="$folder/$unit_name"
            break
        fi
    done
fi
# Succeeds when the packaged unit runs the daemon beside these scripts: then the package owns
# every file, and installing is enabling its unit.
packaged() {
    [ -n "$packaged_unit" ] && grep -qx "ExecStart=$here/tarnwickd" -- "$packaged_unit"
}
status_file=$(under /run/tarnwick/status.json)
pid_file=$(under /run/tarnwick/tarnwickd.pid)
daemon_lock=$(under /run/tarnwick/tarnwickd.lock)
script_lock=$(under /run/tarnwick/scripts.lock)
log_file=$(under /var/log/tarnwickd.log)

# Succeeds when `pid` is a live process (a zombie counts as gone: nobody may reap it soon).
is_alive() {
    local pid=$1 stat
    [[ "$pid" =~ ^[1-9][0-9]*$ ]] || return 1
    stat=$(cat "/proc/$pid/stat" 2>/dev/null) || return 1
    stat=${stat##*) }
    [ -n "$stat" ] && [ "${stat%% *}" != Z ] && [ "${stat%% *}" != X ]
}

# One install or uninstall at a time: two at once would each start a daemon or remove the
# files of the other's. Held until the script exits.
take_script_lock() {
    mkdir -p -- "$(dirname -- "$script_lock")" || fail "cannot create $(dirname -- "$script_lock")"
    exec 9>>"$script_lock" || fail "cannot open $script_lock"
    flock -w 60 9 || fail "another install or uninstall did not finish within 60 s"
}

# The process id of the daemon holding the daemon's lock, however it was started; fails when
# no live daemon holds it.
lock_holder() {
    local pid
    [ -f "$daemon_lock" ] && [ ! -L "$daemon_lock" ] || return 1
    if flock -n "$daemon_lock" true 2>/dev/null; then return 1; fi
    pid=$(head -c 32 -- "$daemon_lock" 2>/dev/null | tr -cd '0-9') || return 1
    is_alive "$pid" || return 1
    [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = tarnwickd ] || return 1
    echo "$pid"
}

# Stops whatever daemon still holds the lock (one started by hand, or left by a race), so that
# nothing keeps the fans once the scripts say they are free.
stop_lock_holder() {
    local pid i
    pid=$(lock_holder) || return 0
    kill -TERM "$pid" 2>/dev/null || true
    for ((i = 0; i < stop_timeout * 10; i++)); do
        is_alive "$pid" || return 0
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    fail "tarnwickd (pid $pid) did not stop within $stop_timeout s and was killed;" \
        "the fans may stay under manual control until it runs again"
}

# Succeeds when `pid` is a live process started from the installed daemon binary (a pid file can
# outlive its process, and the number be given to another).
is_sandbox_daemon() {
    local pid=$1 argv0
    is_alive "$pid" || return 1
    argv0=$(tr '\0' '\n' <"/proc/$pid/cmdline" 2>/dev/null | head -n 1) || return 1
    [ "$argv0" = "$daemon_binary" ]
}

# Waits until `pid` is gone; fails after `seconds`.
wait_gone() {
    local pid=$1 seconds=$2 i
    for ((i = 0; i < seconds * 10; i++)); do
        is_sandbox_daemon "$pid" || return 0
        sleep 0.1
    done
    return 1
}

# The last line the daemon logged, for messages.
last_log_line() {
    # Without the journal priority the daemon puts in front of each line ("<3>").
    if [ -f "$log_file" ]; then tail -n 1 -- "$log_file" | sed 's/^<[0-7]>//'; fi
}

# Set by the stops below when the daemon said, as its exit status 3 and last line, that a fan did
# not return to automatic control.
hand_back_failed=
hand_back_line='tarnwickd: stopped, but a fan did not return to automatic control'

# Stops the sandboxed daemon named by the pid file (it hands the fans back on SIGTERM). Sets
# `found_dead` when the pid file names a daemon that is gone: it crashed or was killed, and may
# have left the fans under manual control.
found_dead=
stop_sandbox_daemon() {
    local pid
    [ -f "$pid_file" ] || return 0
    pid=$(head -c 32 -- "$pid_file" 2>/dev/null | tr -cd '0-9') || true
    if ! is_sandbox_daemon "$pid"; then
        found_dead=1
    else
        kill -TERM "$pid" 2>/dev/null || true
        if ! wait_gone "$pid" "$stop_timeout"; then
            kill -KILL "$pid" 2>/dev/null || true
            wait_gone "$pid" 2 || true
            rm -f -- "$pid_file"
            fail "tarnwickd (pid $pid) did not stop within $stop_timeout s and was killed;" \
                "the fans may stay under manual control until it runs again"
        fi
        # Its exit status went to nobody; its last line says the same (whatever priority prefix).
        case "$(last_log_line)" in *"$hand_back_line") hand_back_failed=1 ;; esac
    fi
    rm -f -- "$pid_file"
}

# Starts the installed daemon under the sandbox root in its own session (so that a terminal's
# Ctrl-C does not reach it) and waits for its first status. Prints nothing on success.
start_sandbox_daemon() {
    local pid i
    mkdir -p -- "$(dirname -- "$pid_file")" "$(dirname -- "$log_file")"
    # No daemon runs now, so a status file left behind is stale and would fake a quick start.
    rm -f -- "$status_file"
    # Without the scripts' lock (descriptor 9): the daemon outlives the script.
    TARNWICK_ROOT="$root" setsid -- "$daemon_binary" </dev/null >>"$log_file" 2>&1 9>&- &
    pid=$!
    echo "$pid" >"$pid_file"
    for ((i = 0; i < start_timeout * 10; i++)); do
        [ -f "$status_file" ] && return 0
        # Until setsid has run the daemon the process still shows the shell, so only liveness.
        if ! is_alive "$pid"; then
            rm -f -- "$pid_file"
            fail "tarnwickd did not start: $(last_log_line)"
        fi
        sleep 0.1
    done
    fail "tarnwickd started but wrote no status within $start_timeout s (see $log_file)"
}

# Under systemd: stops the unit `1` (default: the daemon's) when it is loaded; succeeds when
# nothing runs afterwards. A daemon it stopped that ended with status 3 sets `hand_back_failed`.
stop_system_daemon() {
    local unit=${1:-$unit_name} was_active=
    if systemctl is-active --quiet -- "$unit" 2>/dev/null; then was_active=1; fi
    systemctl stop -- "$unit" 2>/dev/null || true
    if systemctl is-active --quiet -- "$unit"; then
        fail "systemctl could not stop $unit"
    fi
    if [ -n "$was_active" ] &&
        [ "$(systemctl show --property=ExecMainStatus --value -- "$unit" 2>/dev/null)" = 3 ]; then
        hand_back_failed=1
    fi
}

# The words for a stop whose hand-back did not take: the daemon is started again, so that it keeps
# the fans at a safe speed and keeps trying, and the script fails.
hand_back_refused() {
    fail "a fan did not return to automatic control, so fan control stays installed and running" \
        "(it keeps the fans at a safe speed and keeps trying); uninstall again once" \
        "'tarnwick status' shows the fans in automatic mode"
}

require_root_for_system() {
    if ! sandboxed; then
        [ "$(id -u)" -eq 0 ] || fail "must run as root (through pkexec or sudo)"
        command -v systemctl >/dev/null || fail "systemctl not found: this system does not run systemd"
    fi
}

# Hands the fans back after a daemon died without doing it: a daemon's start sets them to
# automatic, and its stop does again. Quiet and harmless when it cannot start (no SMC).
hand_back_sandbox() {
    [ -x "$daemon_binary" ] || return 0
    (start_sandbox_daemon) 2>/dev/null || true
    stop_sandbox_daemon
}
