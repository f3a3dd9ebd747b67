#!/usr/bin/env bash
# Pictures of the open panel on a 1366x768 screen under Xvfb with a tray, at scale 1 and at
# scale 2 (QT_SCALE_FACTOR=2), on a simulated Mac with the menu-bar settings expanded.
# usage: tests/app-ui/screenshots.sh BUILD_DIR OUT_DIR   (tarnwick, tarnwick-sim, fake-tray-host
#        and screen-grab built); writes OUT_DIR/panel-1366x768.png and panel-1366x768-scale2.png
set -euo pipefail
build=$(cd "${1:?usage: screenshots.sh BUILD_DIR OUT_DIR}" && pwd)
out=${2:?usage: screenshots.sh BUILD_DIR OUT_DIR}
mkdir -p -- "$out"
# shellcheck source=xvfb-session.sh
. "$(dirname -- "${BASH_SOURCE[0]}")/xvfb-session.sh"
start_xvfb 1366x768 140
export DISPLAY=$display QT_QPA_PLATFORM=xcb DBUS_SESSION_BUS_ADDRESS=disabled:
export TARNWICK_ROOT="$scratch/root" XDG_CONFIG_HOME="$scratch/config"
mkdir -p "$TARNWICK_ROOT"
"$build/bin/tarnwick-sim" --root "$TARNWICK_ROOT" >/dev/null 2>&1 &
pids+=($!)

shoot() {
    local name=$1 scale=$2 host app
    "$build/tests/fake-tray-host" >"$scratch/host.log" 2>&1 &
    host=$!
    for _ in $(seq 100); do grep -q ready "$scratch/host.log" && break; sleep 0.1; done
    QT_SCALE_FACTOR=$scale "$build/bin/tarnwick" --show-panel --expand-menu-bar \
        >"$scratch/app.log" 2>&1 &
    app=$!
    sleep 6
    "$build/tests/screen-grab" "$out/$name"
    kill "$app" "$host" 2>/dev/null || true
    wait "$app" "$host" 2>/dev/null || true
}
shoot panel-1366x768.png 1
shoot panel-1366x768-scale2.png 2
echo "screenshots: wrote $out/panel-1366x768.png and $out/panel-1366x768-scale2.png"
