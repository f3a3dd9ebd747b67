#!/usr/bin/env bash
# Measures the tray application on a simulated Mac under Xvfb with a real tray host (tint2; the
# test's own tray where tint2 is missing): idle CPU with the panel closed and open on the screens
# of common laptops, where the panel is taller than the screen and its middle scrolls, and on a
# large one; then the panel's open-to-painted time and resident memory.
# usage: tests/app-ui/measure-app.sh BUILD_DIR [SECONDS]   (SECONDS per figure, 60 by default;
#        a Release build with tarnwick and tarnwick-sim, and for the last part fake-tray-host and
#        measure-panel, built)
set -euo pipefail
build=$(cd "${1:?usage: measure-app.sh BUILD_DIR [SECONDS]}" && pwd)
seconds=${2:-60}
# shellcheck source=xvfb-session.sh
. "$(dirname -- "${BASH_SOURCE[0]}")/xvfb-session.sh"
export TARNWICK_ROOT="$scratch/root" XDG_CONFIG_HOME="$scratch/config"
export QT_QPA_PLATFORM=xcb DBUS_SESSION_BUS_ADDRESS=disabled:
mkdir -p "$TARNWICK_ROOT"
"$build/bin/tarnwick-sim" --root "$TARNWICK_ROOT" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -S "$TARNWICK_ROOT/run/tarnwick-sim/smc.sock" ] && break; sleep 0.1; done
ticks=$(getconf CLK_TCK)

# A dark tint2 panel across the top with its system tray, as on a small window-manager desktop.
cat >"$scratch/tint2rc" <<'RC'
panel_items = S
panel_size = 100% 30
panel_position = top center horizontal
strut_policy = follow_size
systray_padding = 4 4 4
systray_icon_size = 22
RC

# Percent of one core the application at $1 used over $seconds.
cpu_share() {
    local app=$1 start used
    cpu() { awk '{print $14 + $15}' "/proc/$app/stat"; }
    start=$(cpu)
    sleep "$seconds"
    used=$(($(cpu) - start))
    awk -v t="$used" -v hz="$ticks" -v s="$seconds" 'BEGIN { printf "%.2f %%", 100 * t / hz / s }'
}

# The first visible window whose $1 (class or name) matches the expression $2.
find_window() {
    DISPLAY=$display xdotool search --onlyvisible "--$1" "$2" 2>/dev/null | head -1 || true
}

# The application idle on a screen of SIZE at SCALE with its icon in the tray: panel closed, then
# opened by a click on the icon as a user opens it (with its settings expanded).
measure_screen() {
    local size=$1 scale=$2 host app closed open icon panel=closed
    start_xvfb "$size" 90
    if command -v tint2 >/dev/null 2>&1; then
        DISPLAY=$display tint2 -c "$scratch/tint2rc" >"$scratch/host.log" 2>&1 &
        host=$!
        # tint2 can take seconds to claim the tray on a busy machine; until then the
        # application would show its window instead of an icon.
        for _ in $(seq 100); do [ -n "$(find_window class '^tint2$')" ] && break; sleep 0.2; done
    else
        DISPLAY=$display "$build/tests/fake-tray-host" >"$scratch/host.log" 2>&1 &
        host=$!
        for _ in $(seq 100); do grep -q ready "$scratch/host.log" && break; sleep 0.1; done
    fi
    DISPLAY=$display QT_SCALE_FACTOR=$scale "$build/bin/tarnwick" --expand-menu-bar \
        >"$scratch/app.log" 2>&1 &
    app=$!
    for _ in $(seq 100); do
        icon=$(find_window class '^tarnwick$')
        [ -n "$icon" ] && break
        sleep 0.2
    done
    sleep 5
    closed=$(cpu_share "$app")
    if [ -n "$icon" ]; then
        eval "$(DISPLAY=$display xdotool getwindowgeometry --shell --prefix ICON_ "$icon")"
        DISPLAY=$display xdotool mousemove $((ICON_X + ICON_WIDTH / 2)) \
            $((ICON_Y + ICON_HEIGHT / 2)) click 1
        sleep 5
        [ -n "$(find_window name '^tarnwick panel$')" ] && open=$(cpu_share "$app")
        [ -n "$(find_window name '^tarnwick panel$')" ] && panel=open
    fi
    [ "$panel" = open ] || open="(panel did not stay open)"
    kill "$app" "$host" 2>/dev/null || true
    wait "$app" "$host" 2>/dev/null || true
    kill "${pids[-1]}" 2>/dev/null || true  # this screen's Xvfb
    wait "${pids[-1]}" 2>/dev/null || true
    unset 'pids[-1]'
    printf '| %s | %s | %s | %s |\n' "$size" "$scale" "$closed" "$open"
}

echo "== idle CPU over $seconds s per figure (tray: $(command -v tint2 >/dev/null && echo tint2 || echo test tray))"
echo "| screen | scale | panel closed | panel open (settings expanded) |"
echo "| --- | --- | --- | --- |"
for screen in 1280x800:1 1366x768:1 1366x768:2 1920x1080:1.5 1920x1200:1; do
    measure_screen "${screen%%:*}" "${screen##*:}"
done

[ -x "$build/tests/measure-panel" ] && [ -x "$build/tests/fake-tray-host" ] || exit 0
start_xvfb 1440x900 80
export DISPLAY=$display
"$build/tests/fake-tray-host" >"$scratch/host.log" &
pids+=($!)
echo "== panel (in-process, 30 openings)"
"$build/tests/measure-panel"

echo "== resident memory, panel closed"
"$build/bin/tarnwick" &
app=$!
pids+=("$app")
sleep 10
grep -E '^(VmRSS|VmHWM)' "/proc/$app/status"
