#!/usr/bin/env bash
# usage: check-package.sh BUILD_DIR|DEB EXPECTED_FILES
# Checks a Debian package (a .deb, or one packed from BUILD_DIR's install with CPack): exactly the
# expected files, the computed and hand-listed dependencies, the maintainer scripts, the polkit
# actions naming installed scripts, the unit naming the installed daemon, the menu entry naming an
# installed program, AppStream's verdict on the metainfo and lintian's (no error, no warning).
# Exits 77 (skipped) when a tool is missing, or for a build directory unless TARNWICK_TEST_PACKAGE
# is 1: packing and lintian take a minute or more on a busy machine.
set -euo pipefail
subject=$1 expected=$2
cpack=${CPACK:-cpack}

if [ -d "$subject" ] && [ "${TARNWICK_TEST_PACKAGE:-}" != 1 ]; then
    echo "skipped: set TARNWICK_TEST_PACKAGE=1 to pack and check the Debian package" \
        "(scripts/package always checks the package it builds)"
    exit 77
fi
for tool in "$cpack" dpkg-deb dpkg-shlibdeps file lintian appstreamcli; do
    if ! command -v "$tool" >/dev/null; then
        echo "skipped: $tool is not installed (scripts/package installs what the package needs)"
        exit 77
    fi
done

out=$(mktemp -d)
trap 'rm -rf -- "$out"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

if [ -d "$subject" ]; then
    if ! "$cpack" --config "$subject/CPackConfig.cmake" -B "$out" -G DEB >"$out/cpack.log" 2>&1; then
        cat "$out/cpack.log"
        echo "FAIL: cpack could not build the package"
        exit 1
    fi
    deb=$(ls "$out"/tarnwick_*.deb)
else
    deb=$subject
fi
echo "package: $(basename "$deb")"

dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' | sort >"$out/files"
if ! diff -u <(sort "$expected") "$out/files"; then
    fail "the package's files differ from $expected (- expected, + packed)"
fi

depends=$(dpkg-deb --field "$deb" Depends)
echo "Depends: $depends"
for wanted in libqt6widgets6 libc6 pkexec qt6-qpa-plugins; do
    [[ "$depends" == *"$wanted"* ]] || fail "Depends lacks $wanted"
done

dpkg-deb --control "$deb" "$out/control"
[ -x "$out/control/prerm" ] || fail "no executable prerm"
grep -q 'uninstall.sh' "$out/control/prerm" 2>/dev/null || fail "prerm does not run uninstall.sh"
# A fresh install starts nothing: the postinst only restarts a daemon that runs already.
if grep -v '^ *#' "$out/control/postinst" 2>/dev/null |
    grep -Eq 'enable|deb-systemd-invoke (start|restart)|systemctl (start|restart)'; then
    fail "the postinst enables or starts the daemon: installing must start nothing"
fi

dpkg-deb --extract "$deb" "$out/root"
policy="$out/root/usr/share/polkit-1/actions/com.tarnwick.helper.policy"
mapfile -t programs < <(sed -n 's|.*exec.path">\(.*\)</annotate>.*|\1|p' "$policy")
[ "${#programs[@]}" -eq 2 ] || fail "the polkit file names ${#programs[@]} programs, not 2"
for program in "${programs[@]}"; do
    [ -x "$out/root$program" ] || fail "the polkit action names $program, which is not installed"
done
unit="$out/root/usr/lib/systemd/system/tarnwickd.service"
daemon=$(sed -n 's/^ExecStart=//p' "$unit")
if [ "$daemon" != /usr/libexec/tarnwick/tarnwickd ] || [ ! -x "$out/root$daemon" ]; then
    fail "the unit runs '$daemon', not the installed daemon"
fi
exec_line=$(sed -n 's/^Exec=//p' "$out/root/usr/share/applications/tarnwick.desktop")
[ -x "$out/root/usr/bin/${exec_line%% *}" ] || fail "the menu entry runs $exec_line, not in /usr/bin"

echo "== appstreamcli validate-tree"
appstreamcli validate-tree --no-net "$out/root" || fail "AppStream finds fault with the metainfo"

echo "== lintian"
lintian --info -- "$deb" | tee "$out/lintian"
if grep -q '^[EW]: ' "$out/lintian"; then fail "lintian reports errors or warnings"; fi

[ "$failures" -eq 0 ] || exit 1
echo "package checks passed"
