#!/usr/bin/env bash
# Builds the Debian package from this build, unpacks it into a scratch root and checks what a user would get:
# the layout, the launcher, the desktop and autostart entries, the dependencies, and that the installed client
# finds its settings template beside itself.
# Usage: package.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
BUILD=$(cd "$1" && pwd)
SRC=$(cd "$2" && pwd)

if ! command -v cpack >/dev/null || ! command -v dpkg-deb >/dev/null; then
    echo "SKIP: cpack or dpkg-deb is not installed (scripts/install-deps installs them)"
    exit 0
fi

work=$(mktemp -d)
pid=""
cleanup() {
    if [ -n "$pid" ]; then kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; fi
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check_file() { [ -f "$root/$1" ] || fail "missing file /$1"; }

cd "$work" || exit 1
if ! cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$work" >cpack.log 2>&1; then
    cat cpack.log
    echo "FAIL: cpack could not build the package"
    exit 1
fi
deb=$(ls "$work"/packages/*.deb 2>/dev/null | head -n1)
[ -n "$deb" ] || { cat cpack.log; echo "FAIL: no .deb produced"; exit 1; }

root="$work/root"
dpkg-deb -x "$deb" "$root" || { echo "FAIL: dpkg-deb -x"; exit 1; }
dpkg-deb -e "$deb" "$work/control" || { echo "FAIL: dpkg-deb -e"; exit 1; }

app=usr/lib/halcyraclient
# The client reads its template, images and translations from its own directory.
[ -x "$root/$app/HalcyraClient" ] || fail "missing executable /$app/HalcyraClient"
check_file "$app/halcyraclient.ini"
cmp -s "$root/$app/halcyraclient.ini" "$SRC/resources/halcyraclient.ini" ||
    fail "installed template differs from resources/halcyraclient.ini"
check_file "$app/widgets.qm"
for ts in "$SRC"/resources/translations/*.ts; do
    check_file "$app/$(basename "${ts%.ts}").qm"
done
if [ -d "$SRC/resources/runtime-images" ]; then
    for img in "$SRC"/resources/runtime-images/*; do
        [ -e "$img" ] || continue
        cmp -s "$img" "$root/$app/images/$(basename "$img")" || fail "image $(basename "$img") not installed"
    done
fi
if [ -x "$BUILD/bin/kestrana-print" ]; then
    [ -x "$root/usr/bin/kestrana-print" ] || fail "virtual printer /usr/bin/kestrana-print not installed"
fi

# The Kestrana printer: a backend CUPS runs as root (owner-only modes), its PPD, and the maintainer scripts
# that add the queue and remove it on purge.
if [ -x "$BUILD/bin/cups-backend/kestrana" ]; then
    mode=$(dpkg-deb -c "$deb" | awk '$NF == "./usr/lib/cups/backend/kestrana" {print $1, $2}')
    [ "$mode" = "-rwx------ root/root" ] || fail "backend /usr/lib/cups/backend/kestrana is '$mode', not -rwx------ root/root"
    [ "$("$root/usr/lib/cups/backend/kestrana")" = 'direct kestrana "Kestrana" "Kestrana secure printing"' ] ||
        fail "the installed backend does not list its device"
    check_file usr/share/ppd/halcyraclient/kestrana.ppd
    if command -v cupstestppd >/dev/null; then
        cupstestppd -q "$root/usr/share/ppd/halcyraclient/kestrana.ppd" || fail "cupstestppd rejects kestrana.ppd"
    fi
    grep -q "lpadmin -p Kestrana -E -v kestrana:/" "$work/control/postinst" 2>/dev/null ||
        fail "postinst does not add the Kestrana queue"
    grep -q "lpadmin -x Kestrana" "$work/control/postrm" 2>/dev/null || fail "postrm does not remove the Kestrana queue"
    grep -q "Kestrana.data" "$work/control/postrm" 2>/dev/null || fail "postrm leaves CUPS's cache of the queue"
    sed -n 's/^Recommends: //p' "$work/control/control" | grep -q "cups-filters" || fail "cups-filters is not recommended"
fi

# The launcher must reach the real executable so that the client's directory is /usr/lib/halcyraclient.
launcher="$root/usr/bin/halcyraclient"
if [ -L "$launcher" ]; then
    target=$(readlink "$launcher")
    case "$target" in /*) fail "launcher symlink is absolute ($target)";; esac
    [ "$(cd "$root/usr/bin" && realpath "$target")" = "$(realpath "$root/$app/HalcyraClient")" ] ||
        fail "launcher points to $target, not to the client"
elif [ -x "$launcher" ]; then
    grep -q "/$app/HalcyraClient" "$launcher" || fail "launcher script does not start /$app/HalcyraClient"
else
    fail "missing launcher /usr/bin/halcyraclient"
fi

desktop_value() { sed -n "s/^$2=//p" "$1" | head -n1; }
for entry in usr/share/applications/halcyraclient.desktop etc/xdg/autostart/halcyraclient.desktop; do
    f="$root/$entry"
    if [ ! -f "$f" ]; then fail "missing /$entry"; continue; fi
    head -n1 "$f" | grep -qx '\[Desktop Entry\]' || fail "/$entry does not start with [Desktop Entry]"
    [ "$(desktop_value "$f" Type)" = Application ] || fail "/$entry: Type is not Application"
    [ -n "$(desktop_value "$f" Name)" ] || fail "/$entry: no Name"
    exe=$(desktop_value "$f" Exec | cut -d' ' -f1)
    [ -e "$root/usr/bin/$exe" ] || fail "/$entry: Exec=$exe is not installed in /usr/bin"
    icon=$(desktop_value "$f" Icon)
    ls "$root"/usr/share/icons/hicolor/*/apps/"$icon".* >/dev/null 2>&1 || fail "/$entry: icon $icon not installed"
done
grep -qx /etc/xdg/autostart/halcyraclient.desktop "$work/control/conffiles" 2>/dev/null ||
    fail "autostart entry is not a conffile"

# Every shared library the client needs must come from a package the .deb depends on.
depends=$(sed -n 's/^Depends: //p' "$work/control/control")
echo "Depends: $depends"
# Package names in Depends, alternatives included, without versions.
dep_names=$(echo "$depends" | tr ',|' '\n\n' | sed 's/(.*)//; s/^ *//; s/ *$//')
has_dep() { echo "$dep_names" | grep -qxF "$1"; }
for lib in $(objdump -p "$root/$app/HalcyraClient" | awk '/NEEDED/ {print $2}'); do
    path=$(ldconfig -p | awk -v l="$lib" '$1 == l {print $NF; exit}')
    [ -n "$path" ] || continue
    pkg=$(dpkg -S "$(realpath "$path")" 2>/dev/null || dpkg -S "$path" 2>/dev/null)
    pkg=${pkg%%:*}
    [ -n "$pkg" ] || continue
    # The dependency may name the package or a name it provides (libspdlog1.10 provides libspdlog1.10-fmt9).
    provided=$(dpkg-query -W -f='${Provides}' "$pkg" 2>/dev/null | tr ',' '\n' | sed 's/(.*)//; s/^ *//; s/ *$//')
    found=0
    for name in "$pkg" $provided; do has_dep "$name" && found=1; done
    [ "$found" -eq 1 ] || fail "needs $lib from $pkg, which is not in Depends"
done
has_dep libqt5sql5-sqlite || fail "the SQLite driver plugin (libqt5sql5-sqlite) is not in Depends"
twice=$(echo "$dep_names" | sort | uniq -d | tr '\n' ' ')
[ -z "$twice" ] || fail "Depends names $twice more than once"

# Started from the unpacked root, the client creates the user's settings from the template beside it.
home="$work/home"
mkdir -p "$home" "$work/tmp"
chmod 700 "$work/tmp"
# A private runtime directory: the single-instance guard must not meet a client the user is running.
HOME="$home" TMPDIR="$work/tmp" XDG_RUNTIME_DIR="$work/tmp" QT_QPA_PLATFORM=offscreen "$launcher" >"$work/client.log" 2>&1 &
pid=$!
for _ in $(seq 1 200); do
    [ -s "$home/halcyraclient/halcyraclient.ini" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
# (Compared with the source: the client marks the template itself once it has copied it.)
if ! cmp -s "$home/halcyraclient/halcyraclient.ini" "$SRC/resources/halcyraclient.ini"; then
    cat "$work/client.log"
    fail "the installed client did not create ~/halcyraclient/halcyraclient.ini from its template"
fi
kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; pid=""

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "package layout OK: $(basename "$deb")"
