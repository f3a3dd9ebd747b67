#!/usr/bin/env bash
# The tray icon on a StatusNotifier host: xfce4-panel with its systray plugin on Xvfb and a
# private session bus. Passes when the item registers with the host and the host asks for its
# menu only a few times; prints the count. Exits 77 (skipped) where a piece is not installed.
# usage: sni-tray.sh TARNWICK [SECONDS]   (TARNWICK_SNI_PLUGIN=sntray: the StatusNotifier plugin)
set -euo pipefail
app=${1:?usage: sni-tray.sh TARNWICK [SECONDS]}
seconds=${2:-6}
for tool in Xvfb xfce4-panel dbus-run-session dbus-monitor dbus-send; do
    command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
done
[ -n "${TARNWICK_SNI_INNER:-}" ] || {
    scratch=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-sni.XXXXXX")
    trap 'rm -rf -- "$scratch"' EXIT
    display=
    for n in $(seq 700 799); do
        if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
    done
    Xvfb "$display" -screen 0 1366x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
    xvfb=$!
    trap 'kill $xvfb 2>/dev/null; rm -rf -- "$scratch"' EXIT
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.2; done
    channel="$scratch/config/xfce4/xfconf/xfce-perchannel-xml"
    mkdir -p "$channel" "$scratch/root"
    cat >"$channel/xfce4-panel.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="size" type="uint" value="26"/>
      <property name="plugin-ids" type="array"><value type="int" value="1"/></property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="PLUGIN"/>
  </property>
</channel>
XML
    sed -i "s/PLUGIN/${TARNWICK_SNI_PLUGIN:-systray}/" "$channel/xfce4-panel.xml"
    status=0
    DISPLAY=$display XDG_CONFIG_HOME=$scratch/config HOME=$scratch TARNWICK_ROOT=$scratch/root \
        TARNWICK_SNI_INNER=$scratch dbus-run-session -- "$0" "$app" "$seconds" || status=$?
    exit $status
}
scratch=$TARNWICK_SNI_INNER
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true' EXIT
xfce4-panel >"$scratch/panel.log" 2>&1 &
pids+=($!)
watcher() {
    dbus-send --session --print-reply --dest=org.kde.StatusNotifierWatcher /StatusNotifierWatcher \
        org.freedesktop.DBus.Properties.Get string:org.kde.StatusNotifierWatcher "string:$1" \
        2>/dev/null
}
for _ in $(seq 150); do
    watcher IsStatusNotifierHostRegistered | grep -q 'boolean true' && break
    sleep 0.2
done
watcher IsStatusNotifierHostRegistered | grep -q 'boolean true' || {
    echo "FAIL: xfce4-panel registered no StatusNotifier host"; exit 1; }
dbus-monitor --session "interface='com.canonical.dbusmenu'" >"$scratch/menu.log" 2>&1 &
pids+=($!)
QT_QPA_PLATFORM=xcb "$app" --demo hot >"$scratch/app.log" 2>&1 &
pids+=($!)
sleep "$seconds"
calls=$(grep -c '^method call' "$scratch/menu.log" || true)
items=$(watcher RegisteredStatusNotifierItems | grep -c 'string "' || true)
echo "StatusNotifier items registered: $items; menu calls from the host in ${seconds} s: $calls"
[ "$items" -ge 1 ] || { echo "FAIL: the item did not register"; cat "$scratch/app.log"; exit 1; }
[ "$calls" -le 50 ] || { echo "FAIL: the host keeps asking for the menu"; exit 1; }
