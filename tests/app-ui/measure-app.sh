#!/usr/bin/env bash
# Measures the tray application on a simulated Mac under Xvfb with a tray: panel open-to-painted
# time, idle CPU with the panel closed over one minute, and resident memory.
# usage: tests/app-ui/measure-app.sh BUILD_DIR   (a Release build with the tarnwick, tarnwick-sim,
#        fake-tray-host and measure-panel targets built)
set -euo pipefail
build=$(cd "${1:?usage: measure-app.sh BUILD_DIR}" && pwd)
# shellcheck source=xvfb-session.sh
. "$(dirname -- "${BASH_SOURCE[0]}")/xvfb-session.sh"
start_xvfb 1440x900 80
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
