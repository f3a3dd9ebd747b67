# shellcheck shell=bash
# Sourced by the scripts that drive the application on an X server of their own: a scratch folder
# and child processes that go when the script ends, and start_xvfb.

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-xvfb.XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf -- "$scratch"
}
trap cleanup EXIT

# Starts Xvfb with one screen of SIZE (such as 1366x768) on the first free display from FIRST and
# sets `display`; exits when none is free.
start_xvfb() {
    local size=$1 first=$2 n
    display=
    for n in $(seq "$first" $((first + 40))); do
        if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
    done
    [ -n "$display" ] || { echo "$(basename -- "$0"): no free display number" >&2; exit 1; }
    Xvfb "$display" -screen 0 "${size}x24" -nolisten tcp -noreset >/dev/null 2>&1 &
    pids+=($!)
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
}
