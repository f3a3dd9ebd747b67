#!/usr/bin/env bash
# Measures the tray application on a simulated Mac under Xvfb with a tray: panel open-to-painted
# time, idle CPU with the panel closed over one minute, and resident memory.
# usage: tests/app-ui/measure-app.sh BUILD_DIR   (a Release build with the tarnwick, tarnwick-sim,
#        fake-tray-host and measure-panel targets built)
set -euo pipefail
build=$(cd "${1:?usage: measure-app.sh BUILD_DIR}" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-measure.XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf -- "$scratch"
}
trap cleanup EXIT

display=
for n in $(seq 80 120); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
done
[ -n "$display" ] || { echo "measure-app: no free display number" >&2; exit 1; }
Xvfb "$display" -screen 0 1440x900x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
DISPLAY=$display "$build/tests/fake-tray-host" >"$scratch/host.log" &
pids+=($!)
export TARNWICK_ROOT="$scratch/root" XDG_CONFIG_HOME="$scratch/config" DISPLAY=$display
export QT_QPA_PLATFORM=xcb DBUS_SESSION_BUS_ADDRESS=disabled:
mkdir -p "$TARNWICK_ROOT"
"$build/bin/tarnwick-sim" --root "$TARNWICK_ROOT" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -S "$TARNWICK_ROOT/run/tarnwick-sim/smc.sock" ] && break; sleep 0.1; done

echo "== panel (in-process, 30 openings)"
"$build/tests/measure-panel"

echo "== idle application, panel closed"
"$build/bin/tarnwick" &
app=$!
pids+=("$app")
sleep 5
ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$app/stat"; }
start=$(cpu)
sleep 60
used=$(( $(cpu) - start ))
awk -v t="$used" -v hz="$ticks" 'BEGIN { printf "cpu over 60 s: %.2f s (%.2f %%)\n", t / hz, 100 * t / hz / 60 }'
grep -E '^(VmRSS|VmHWM)' "/proc/$app/status"
