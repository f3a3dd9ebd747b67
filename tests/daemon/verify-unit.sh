#!/usr/bin/env bash
# Checks the service unit with systemd-analyze verify: any warning fails. The unit's ExecStart is
# pointed at the built daemon, since the installed path need not exist on the test machine, and
# its manual page is not looked for (the package installs it).
# usage: verify-unit.sh SYSTEMD_ANALYZE UNIT DAEMON
set -euo pipefail
analyze=$1 unit=$2 daemon=$3
dir=$(mktemp -d)
trap 'rm -rf -- "$dir"' EXIT
copy="$dir/$(basename -- "$unit")"
sed "s|^ExecStart=.*|ExecStart=$daemon|" -- "$unit" >"$copy"
grep -q "^ExecStart=$daemon\$" "$copy" || { echo "no ExecStart line in $unit" >&2; exit 1; }
out=$("$analyze" verify --man=no "$copy" 2>&1) || { echo "$out" >&2; exit 1; }
if [ -n "$out" ]; then
    echo "$out" >&2
    exit 1
fi
echo "systemd-analyze verify: clean"
