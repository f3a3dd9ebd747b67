#!/usr/bin/env bash
# The tray icon on sway with waybar's tray (a StatusNotifier host), headless: the item registers,
# an Activate from the host opens the panel at the bar's side with its top edge below the bar,
# and its context menu opens there too. sway refuses to run as root: as root the session runs
# as `nobody` (TARNWICK_SWAY_USER names another account). Exits 77 (skipped) where a piece is
# missing or sway does not start here.
# usage: sway-tray.sh TARNWICK_BUILD_DIR
set -euo pipefail
[ -z "${TARNWICK_SWAY_TRACE:-}" ] || set -x
build=$(cd "${1:?usage: sway-tray.sh BUILD_DIR}" && pwd)
skip() { echo "skipped: $*"; exit 77; }

if [ -z "${TARNWICK_SWAY_INNER:-}" ]; then
    for tool in sway swaymsg waybar dbus-run-session dbus-send python3; do
        command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
    done
    [ -e /usr/lib/x86_64-linux-gnu/qt6/plugins/platforms/libqwayland-generic.so ] ||
        ls /usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so >/dev/null 2>&1 ||
        skip "Qt's Wayland platform (qt6-wayland) is not installed"
    scratch=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-sway.XXXXXX")
    trap 'rm -rf -- "$scratch"' EXIT
    run=()
    if [ "$(id -u)" = 0 ]; then
        user=${TARNWICK_SWAY_USER:-nobody}
        id "$user" >/dev/null 2>&1 || skip "sway refuses root and there is no user $user"
        run=(runuser -u "$user" --)
    fi
    chmod 755 "$scratch"
    mkdir -m 700 "$scratch/runtime"
    mkdir "$scratch/root" "$scratch/config" "$scratch/out"
    [ "${#run[@]}" -eq 0 ] || chown -R "$user" "$scratch"
    script=$(cd "$(dirname -- "${BASH_SOURCE[0]}")" && pwd)/$(basename -- "${BASH_SOURCE[0]}")
    status=0
    "${run[@]}" env -i PATH=/usr/bin:/bin HOME="$scratch" XDG_RUNTIME_DIR="$scratch/runtime" \
        TARNWICK_SWAY_INNER="$scratch" TARNWICK_SWAY_TRACE="${TARNWICK_SWAY_TRACE:-}" ASAN_OPTIONS="${ASAN_OPTIONS:-}" \
        LSAN_OPTIONS="${LSAN_OPTIONS:-}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" \
        dbus-run-session -- "$script" "$build" >"$scratch/out/inner.log" 2>&1 || status=$?
    grep -v '^dbus-daemon\|SpiRegistry' "$scratch/out/inner.log" || true
    exit "$status"
fi

scratch=$TARNWICK_SWAY_INNER
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; swaymsg exit >/dev/null 2>&1 || true' EXIT
cat >"$scratch/sway.conf" <<CONF
output HEADLESS-1 resolution 1366x768 scale 1
exec waybar -c $scratch/waybar.json -s $scratch/waybar.css
CONF
cat >"$scratch/waybar.json" <<'JSON'
{"layer": "top", "position": "top", "height": 30, "modules-right": ["tray"],
 "tray": {"icon-size": 22}}
JSON
echo 'window#waybar { background: #1e1e1e; }' >"$scratch/waybar.css"
WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
    sway -c "$scratch/sway.conf" >"$scratch/out/sway.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    SWAYSOCK=$(ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock 2>/dev/null | head -1 || true)
    WAYLAND_DISPLAY=$(cd "$XDG_RUNTIME_DIR" && ls 2>/dev/null | grep -E '^wayland-[0-9]+$' | head -1 || true)
    [ -n "$SWAYSOCK" ] && [ -n "$WAYLAND_DISPLAY" ] && break
    sleep 0.1
done
[ -n "$SWAYSOCK" ] || { cat "$scratch/out/sway.log"; echo "skipped: sway did not start here"; exit 77; }
export SWAYSOCK WAYLAND_DISPLAY

# The focused workspace's top edge: the bar's height once waybar holds its exclusive zone.
usableTop() {
    swaymsg -t get_workspaces | python3 -c '
import json, sys
print(next(w["rect"]["y"] for w in json.load(sys.stdin) if w["focused"]))'
}
for _ in $(seq 100); do [ "$(usableTop)" = 30 ] && break; sleep 0.1; done
[ "$(usableTop)" = 30 ] || { echo "skipped: waybar did not take its place"; exit 77; }

export TARNWICK_ROOT=$scratch/root XDG_CONFIG_HOME=$scratch/config QT_QPA_PLATFORM=wayland
"$build/bin/tarnwick" --demo hot >"$scratch/out/app.log" 2>&1 &
pids+=($!)
watcher() {
    dbus-send --session --print-reply --dest=org.kde.StatusNotifierWatcher /StatusNotifierWatcher \
        org.freedesktop.DBus.Properties.Get string:org.kde.StatusNotifierWatcher \
        string:RegisteredStatusNotifierItems 2>/dev/null | grep -o 'string "[^"]*"' | cut -d'"' -f2 || true
}
item=
for _ in $(seq 300); do item=$(watcher | head -1); [ -n "$item" ] && break; sleep 0.1; done
[ -n "$item" ] || { echo "FAIL: the item did not register with waybar"; cat "$scratch/out/app.log"; exit 1; }
service=${item%%/*}
call() { dbus-send --session --print-reply --dest="$service" /StatusNotifierItem "org.kde.StatusNotifierItem.$1" int32:1350 int32:15 >/dev/null; }

# The window titled $1 as "x y width height", once sway shows it where the application asked.
window() {
    swaymsg -t get_tree | python3 -c '
import json, sys
def find(node):
    if node.get("name") == sys.argv[1]:
        r = node["rect"]
        print(r["x"], r["y"], r["width"], r["height"])
        return True
    return any(find(n) for n in node.get("nodes", []) + node.get("floating_nodes", []))
find(json.load(sys.stdin))' "$1" || true
}
check() {  # title, what
    local at=
    for _ in $(seq 100); do
        at=$(window "$1")
        # Placed: its right edge within 8 pixels of the screen's, below the 30-pixel bar.
        if [ -n "$at" ]; then
            read -r x y w h <<<"$at"
            [ $((x + w)) -ge 1350 ] && [ "$y" -ge 30 ] && [ "$y" -le 60 ] && break
        fi
        sleep 0.1
    done
    echo "$2 at: ${at:-nowhere} (bar: 0 0 1366 30)"
    [ -n "$at" ] || { echo "FAIL: no $2"; exit 1; }
    read -r x y w h <<<"$at"
    [ "$y" -ge 30 ] || { echo "FAIL: the $2's top edge is under the bar"; exit 1; }
    [ "$y" -le 60 ] && [ $((x + w)) -ge 1350 ] && [ $((x + w)) -le 1366 ] ||
        { echo "FAIL: the $2 is not at the bar's side near the tray"; exit 1; }
    [ $((y + h)) -le 768 ] || { echo "FAIL: the $2 runs off the screen"; exit 1; }
}
sleep 1
call Activate
check "tarnwick panel" panel
call ContextMenu
check "tarnwick menu" menu
echo "sway: panel and menu at the bar's side"
