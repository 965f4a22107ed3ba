#!/usr/bin/env bash
# tst_accessibility on a real X server with a window manager: there a box that bypasses the window manager only
# gets the keyboard when it takes it itself, which the offscreen platform of the other tests cannot show.
# Usage: accessibility_x11.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
BIN="$(cd "$1" && pwd)/bin/tst_accessibility"
[ -x "$BIN" ] || { echo "FAIL: $BIN not built"; exit 1; }
for tool in Xvfb openbox; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (scripts/install-deps installs it)"; exit 0; }
done

exec {displayfd}<> <(:)
Xvfb -displayfd "$displayfd" -screen 0 1280x900x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
read -r -t 20 -u "$displayfd" number || { echo "FAIL: Xvfb did not start"; kill "$xvfb"; exit 1; }
export DISPLAY=":$number"
work=$(mktemp -d)
trap 'kill "$xvfb" 2>/dev/null; rm -rf "$work"' EXIT
# Openbox starts the test once it manages windows, and ends with it. Leaks are the offscreen run's to find: here a
# block of the X platform plugin, unloaded at the end, cannot be told from the client's own.
openbox --startup "sh -c 'QT_QPA_PLATFORM=xcb ASAN_OPTIONS=detect_leaks=0 \"$BIN\" > \"$work/out\" 2>&1; echo \$? > \"$work/rc\"; openbox --exit'" \
    >/dev/null 2>&1
cat "$work/out"
exit "$(cat "$work/rc" 2>/dev/null || echo 1)"
