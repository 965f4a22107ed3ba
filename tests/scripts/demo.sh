#!/usr/bin/env bash
# The demo as a person tries it: scripts/run under a virtual display brings up the client against the demo
# server; a QR login is confirmed as a phone would; a PDF printed with kestrana-print arrives in the demo
# server's data folder and in the client's job list; when the client ends, the demo server stops too.
# Usage: demo.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
BUILD=$(cd "$1" && pwd)
SRC=$(cd "$2" && pwd)
BIN="$BUILD/bin"
if ! command -v xvfb-run >/dev/null; then
    echo "SKIP: xvfb-run is not installed (scripts/install-deps installs it)"
    exit 0
fi
for f in HalcyraClient devserver kestrana-print; do
    [ -x "$BIN/$f" ] || { echo "FAIL: $BIN/$f not built"; exit 1; }
done

work=$(mktemp -d)
home="$work/home"
run_pid=""
descendants() { local c; for c in $(pgrep -P "$1"); do echo "$c"; descendants "$c"; done; }
client_pid() {
    local p
    for p in $(descendants "$run_pid"); do
        [ "$(cat "/proc/$p/comm" 2>/dev/null)" = HalcyraClient ] && { echo "$p"; return; }
    done
}
cleanup() {
    if [ -n "$run_pid" ]; then
        local p
        p=$(client_pid)
        [ -n "$p" ] && kill "$p" 2>/dev/null
        for p in $(descendants "$run_pid"); do kill "$p" 2>/dev/null; done
        kill "$run_pid" 2>/dev/null
        wait "$run_pid" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# Polls a condition for up to 60 s.
eventually() { for _ in $(seq 1 600); do eval "$1" && return 0; sleep 0.1; done; return 1; }
server_log="$home/devserver.log"

BUILD_DIR="$BUILD" xvfb-run -a "$SRC/scripts/run" --no-build --plain --qr --home "$home" >"$work/run.log" 2>&1 &
run_pid=$!

ini="$home/halcyraclient/halcyraclient.ini"
if ! eventually 'grep -q "^Quit the client" "$work/run.log"'; then
    cat "$work/run.log"
    echo "FAIL: scripts/run did not come up"
    exit 1
fi
port=$(sed -n 's/^devserver: listening on http:\/\/127.0.0.1:\([0-9]*\) .*/\1/p' "$server_log")
guid=$(sed -n 's/^GUID=//p' "$ini")
grep -q "^KsServerUrl=http://127.0.0.1:$port$" "$ini" || fail "the demo settings do not point at the demo server"
grep -q "^  alice  / alice123" "$work/run.log" || fail "the demo accounts are not shown"
grep -q "kestrana-print" "$work/run.log" || fail "no word on how to print"

# The login dialog registers its QR code when it is built and again when it opens; a registration resets the
# code on the server, so the phone confirms only after the second one.
eventually '[ "$(grep -c "GET /api/client/invoke?clientId=$guid -> 200" "$server_log")" -ge 2 ]' ||
    fail "the client did not register its QR code with the demo server"
"$BIN/devserver" qr-confirm --port "$port" --client-id "$guid" --account alice >/dev/null || fail "qr-confirm failed"
eventually 'grep -q "/Orvinaweb/BAS_ClientLoginNew.* -> 200 .*code 0" "$server_log"' || fail "the client did not log in"
# Print once the main window has taken over the job folder: a job already waiting when it opens is put to the
# user as a question first.
eventually 'grep -q "enter initialCheck4JobPath" "$home/halcyraclient/logs/hyc.log"' ||
    fail "the main window did not start its pass over the job folder"
sleep 0.5

# A job printed through the virtual printer reaches the demo server and the client's job list.
HOME="$home" "$BIN/kestrana-print" --duplex long "$home/sample.pdf" >/dev/null || fail "kestrana-print failed"
eventually 'ls "$home"/server-data/jobs/waiting/*sample.pdf >/dev/null 2>&1' || fail "the job did not arrive in the data folder"
stored=$(ls "$home"/server-data/jobs/waiting/*sample.pdf 2>/dev/null | head -n1)
[ -n "$stored" ] && { cmp -s "$stored" "$home/sample.pdf" || fail "the stored job differs from the printed PDF"; }
eventually 'grep -q "GET /Job/BAS_JobStausList?UserAccount=alice -> 200 code 0, 1 item(s)" "$server_log"' ||
    fail "the client did not list the job"
ls "$home"/halcyraclient/ksprinter/ 2>/dev/null | grep -q . && fail "the job's files stayed in the job folder"

# Ending the client ends the demo server.
client=$(client_pid)
[ -n "$client" ] && kill "$client"
wait "$run_pid"
run_pid=""
grep -q "devserver stopped" "$server_log" || fail "the demo server was not stopped with the client"

if [ "$failures" -ne 0 ]; then
    echo "--- scripts/run"; cat "$work/run.log"
    echo "--- devserver"; cat "$server_log"
    echo "$failures check(s) failed"
    exit 1
fi
echo "demo OK"
