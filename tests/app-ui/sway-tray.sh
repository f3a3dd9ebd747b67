#!/usr/bin/env bash
# The tray icon on a headless sway with waybar's tray (a StatusNotifier host): an Activate and a
# ContextMenu from the host open the panel and the menu at the bar's side, below the bar. sway
# refuses root, so as root the session runs as `nobody` (or TARNWICK_SWAY_USER). Exits 77
# (skipped) where a piece is missing or sway does not start.
# usage: sway-tray.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: sway-tray.sh BUILD_DIR}" && pwd)
skip() { echo "skipped: $*"; exit 77; }
if [ -z "${TARNWICK_SWAY_INNER:-}" ]; then
    for tool in sway swaymsg waybar dbus-run-session dbus-send python3; do
        command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
    done
    ls /usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so >/dev/null 2>&1 ||
        skip "Qt's Wayland platform (qt6-wayland) is not installed"
    scratch=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-sway.XXXXXX")
    trap 'rm -rf -- "$scratch"' EXIT
    mkdir -m 700 "$scratch/runtime"
    run=()
    if [ "$(id -u)" = 0 ]; then
        user=${TARNWICK_SWAY_USER:-nobody}
        id "$user" >/dev/null 2>&1 || skip "sway refuses root and there is no user $user"
        chmod 755 "$scratch" && chown -R "$user" "$scratch" && run=(runuser -u "$user" --)
    fi
    "${run[@]}" env -i PATH=/usr/bin:/bin HOME="$scratch" XDG_RUNTIME_DIR="$scratch/runtime" \
        TARNWICK_SWAY_INNER="$scratch" ASAN_OPTIONS="${ASAN_OPTIONS:-}" \
        LSAN_OPTIONS="${LSAN_OPTIONS:-}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" \
        dbus-run-session -- "$(readlink -f "$0")" "$build" 2>&1 | grep -v '^dbus-daemon\|SpiRegistry'
    exit "${PIPESTATUS[0]}"
fi

cd "$TARNWICK_SWAY_INNER"
trap 'kill $(jobs -p) 2>/dev/null || true' EXIT
printf 'output HEADLESS-1 resolution 1366x768\nexec waybar -c waybar.json -s waybar.css\n' >sway.conf
echo '{"height": 30, "modules-right": ["tray"], "tray": {"icon-size": 22}}' >waybar.json
echo 'window#waybar { background: #1e1e1e; }' >waybar.css
WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman sway -c sway.conf >sway.log 2>&1 &
# A python3 expression over the JSON that swaymsg prints for the message type $1.
ask() { swaymsg -t "$1" 2>/dev/null | python3 -c "import json, sys; t = json.load(sys.stdin)
$2" 2>/dev/null || true; }
barTop() { ask get_workspaces 'print(next(w["rect"]["y"] for w in t if w["focused"]))'; }
for _ in $(seq 100); do
    export SWAYSOCK=$(ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock 2>/dev/null | head -1) WAYLAND_DISPLAY=wayland-1
    [ -n "$SWAYSOCK" ] && [ "$(barTop)" = 30 ] && break
    sleep 0.1
done
[ "$(barTop)" = 30 ] || skip "sway with waybar did not start here: $(tail -3 sway.log)"

TARNWICK_ROOT=$PWD QT_QPA_PLATFORM=wayland "$build/bin/tarnwick" --demo hot >app.log 2>&1 &
for _ in $(seq 300); do
    item=$(dbus-send --session --print-reply --dest=org.kde.StatusNotifierWatcher \
        /StatusNotifierWatcher org.freedesktop.DBus.Properties.Get \
        string:org.kde.StatusNotifierWatcher string:RegisteredStatusNotifierItems 2>/dev/null |
        grep -o 'string ":[^/"]*' | cut -d'"' -f2 || true)
    [ -n "$item" ] && break
    sleep 0.1
done
[ -n "$item" ] || { echo "FAIL: the item did not register with waybar"; cat app.log; exit 1; }

# Asks the item for $1 as waybar does, then expects the window titled $2 placed within 5 s:
# its top below the 30-pixel bar, its right edge at the screen's right (where the tray is).
expect() {
    dbus-send --session --print-reply --dest="$item" /StatusNotifierItem \
        "org.kde.StatusNotifierItem.$1" int32:1350 int32:15 >/dev/null
    local find='def f(n): return [n["rect"]] if n.get("name") == "'$2'" else sum((f(c) for c in n["nodes"] + n["floating_nodes"]), [])
r = f(t); print(*(r[0][k] for k in ("x", "y", "width", "height")) if r else "")'
    for _ in $(seq 50); do
        read -r x y w h <<<"$(ask get_tree "$find")"
        [ -n "${h:-}" ] && [ "$y" -ge 30 ] && [ "$y" -le 60 ] && [ $((x + w)) -ge 1350 ] &&
            [ $((x + w)) -le 1366 ] && [ $((y + h)) -le 768 ] && { echo "$2 at $x $y ${w}x$h"; return; }
        sleep 0.1
    done
    echo "FAIL: $2 at ${x:-nowhere} ${y:-} ${w:-} ${h:-}, not under the 30-pixel bar at its right end"
    exit 1
}
sleep 1
expect Activate "tarnwick panel"
expect ContextMenu "tarnwick menu"
