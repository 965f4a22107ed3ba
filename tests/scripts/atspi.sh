#!/usr/bin/env bash
# The login dialog as a screen reader reads it: from outside, over the real AT-SPI accessibility bus.
#
# What works here (and what does not):
#  - Qt's AT-SPI bridge lives in the xcb platform plugin; under QT_QPA_PLATFORM=offscreen the client never joins
#    the bus, so the client runs under Xvfb with QT_QPA_PLATFORM=xcb.
#  - A private session bus (dbus-run-session) keeps the test away from any desktop session of the person running it.
#  - The client starts first; then the accessibility bus (at-spi-bus-launcher from at-spi2-core) is launched.
#    Qt watches the session bus for "org.a11y.Bus" and joins once it appears; QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
#    stands in for a running screen reader (no org.a11y.Status IsEnabled needed).
#  - The reader (atspi_read.py) uses python3-dbus from the Debian python (/usr/bin/python3): another python on
#    PATH may not see the Debian modules. It asks the registry (at-spi2-registryd, started by the launcher)
#    for the application and walks its tree as Orca does.
# Skips only when one of those programs is missing; a bus that starts but shows no client fails.
# Usage: atspi.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
BUILD=$(cd "$1" && pwd)
SRC=$(cd "$2" && pwd)
LAUNCHER=/usr/libexec/at-spi-bus-launcher
PY=/usr/bin/python3

for tool in xvfb-run xwininfo dbus-run-session; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (scripts/install-deps installs it)"; exit 0; }
done
[ -x "$LAUNCHER" ] || { echo "SKIP: $LAUNCHER missing (at-spi2-core; scripts/install-deps installs it)"; exit 0; }
"$PY" -c 'import dbus' 2>/dev/null || { echo "SKIP: python3-dbus missing (scripts/install-deps installs it)"; exit 0; }
[ -x "$BUILD/bin/HalcyraClient" ] || { echo "FAIL: $BUILD/bin/HalcyraClient not built"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A home whose server refuses at once, so the dialog opens without waiting for a settings fetch.
home="$work/home"
mkdir -p "$home/halcyraclient" "$work/tmp"
chmod 700 "$work/tmp"
sed 's#^KsServerUrl=.*#KsServerUrl=http://127.0.0.1:1#' "$BUILD/bin/halcyraclient.ini" >"$home/halcyraclient/halcyraclient.ini"

# Inside the virtual display and the private session bus: client, then bus, then the reader.
xvfb-run -a dbus-run-session -- bash -c '
    work=$1 client=$2 launcher=$3 py=$4 reader=$5
    HOME="$work/home" TMPDIR="$work/tmp" XDG_RUNTIME_DIR="$work/tmp" LANG=C.UTF-8 LC_ALL= LANGUAGE= \
        QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$client" >"$work/client.out" 2>&1 &
    pid=$!
    for _ in $(seq 1 300); do
        xwininfo -root -tree 2>/dev/null | grep -q "Kestrana Client - Login" && break
        kill -0 $pid 2>/dev/null || break
        sleep 0.1
    done
    "$launcher" --launch-immediately >"$work/launcher.out" 2>&1 &
    bus=$!
    "$py" "$reader" HalcyraClient 30 >"$work/tree.txt" 2>&1
    echo $? >"$work/reader.rc"
    kill $pid 2>/dev/null; wait $pid 2>/dev/null
    kill $bus 2>/dev/null; wait $bus 2>/dev/null
    exit 0' _ "$work" "$BUILD/bin/HalcyraClient" "$LAUNCHER" "$PY" "$SRC/tests/scripts/atspi_read.py" \
    2>&1 | grep -v "Failed to set fd limit"

rc=$(cat "$work/reader.rc" 2>/dev/null || echo none)
if [ "$rc" = 2 ]; then
    echo "SKIP: the accessibility bus could not be started here:"
    cat "$work/tree.txt" "$work/launcher.out"
    exit 0
fi
if [ "$rc" != 0 ]; then
    cat "$work/tree.txt" "$work/client.out"
    echo "FAIL: the client's tree could not be read over the accessibility bus (reader exit $rc)"
    exit 1
fi

# The account page's fields, found by the placeholder Qt hands on as their description; each must carry the
# name of what it asks for, or Orca reads only "text".
check_field() {
    local placeholder=$1 want=$2 line
    line=$(grep -E "^ *text\|[^|]*\|$placeholder\|" "$work/tree.txt" | head -n1)
    [ -n "$line" ] || { fail "no field described \"$placeholder\""; return; }
    name=$(echo "$line" | cut -d'|' -f2)
    [ "$name" = "$want" ] || fail "the field described \"$placeholder\" is named \"$name\", not \"$want\""
}
check_field "Please input a login name" "Login name"
check_field "Please input a password" "Password"
check_field "Please input a KS server" "Server"

# Every control a person can Tab to on the page shown has a name.
unnamed=$(grep -E "^ *(push button|text|check box|combo box|graphic)\|\|[^|]*\|.*focusable.*showing" "$work/tree.txt")
[ -z "$unnamed" ] || fail "controls without a name on the shown page:"$'\n'"$unnamed"

if [ "$failures" -ne 0 ]; then
    echo "--- the login dialog over the accessibility bus (role|name|description|states)"
    cat "$work/tree.txt"
    echo "$failures check(s) failed"
    exit 1
fi
echo "atspi OK"
