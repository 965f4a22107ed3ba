#!/usr/bin/env bash
# The Chinese translation from the user's side:
#  1. every text the code marks for translation has a finished entry in HalcyraClient_zh_CN.ts;
#  2. the built client, started under LANG=zh_CN.UTF-8, installs its translators and shows a translated window
#     (the settings-error box, which appears when the client's directory holds no settings template), while
#     under LANG=C the same box is in English.
# Usage: translation.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
BUILD=$(cd "$1" && pwd)
SRC=$(cd "$2" && pwd)
TS="$SRC/resources/translations/HalcyraClient_zh_CN.ts"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# 1. Coverage: refresh a copy of the .ts from the sources; anything new or changed comes out unfinished.
LUPDATE=$(command -v lupdate || echo /usr/lib/qt5/bin/lupdate)
cp "$TS" "$work/check.ts"
(cd "$SRC" && "$LUPDATE" -silent -no-obsolete -locations none src -ts "$work/check.ts") ||
    fail "lupdate could not scan src/"
missing=$(awk '/<name>/ { gsub(/.*<name>|<\/name>.*/, ""); ctx = $0 }
               /<source>/ { src = $0; gsub(/^ *<source>|<\/source> *$/, "", src) }
               /type="unfinished"|type="vanished"/ { print "  " ctx ": " src }' "$work/check.ts")
if [ -n "$missing" ]; then
    echo "Texts without a Chinese translation:"
    echo "$missing"
    fail "run 'cmake --build <build> --target translations_update' and translate the new entries in $TS"
fi

# 2. The running client.
if ! command -v xvfb-run >/dev/null || ! command -v xwininfo >/dev/null; then
    echo "SKIP: xvfb-run or xwininfo missing (scripts/install-deps installs them); only the coverage was checked"
    [ "$failures" -eq 0 ]
    exit
fi

app="$work/app"
mkdir -p "$app"
cp "$BUILD/bin/HalcyraClient" "$BUILD"/bin/*.qm "$app/"
[ -f "$app/HalcyraClient_zh_CN.qm" ] || fail "HalcyraClient_zh_CN.qm is not built beside the client"
[ -f "$app/widgets.qm" ] || fail "widgets.qm is not built beside the client"

# Prints the window titles the client shows under the given LANG, once the first window is up.
titles_under() {
    local lang=$1 home="$work/home-$1"
    mkdir -p "$home" "$work/tmp-$1"
    chmod 700 "$work/tmp-$1"
    xvfb-run -a bash -c '
        HOME="$1" TMPDIR="$2" XDG_RUNTIME_DIR="$2" LANG="$3" LC_ALL= LANGUAGE= QT_QPA_PLATFORM=xcb "$4" >"$1/client.out" 2>&1 &
        pid=$!
        for _ in $(seq 1 300); do
            if xwininfo -root -tree 2>/dev/null | grep -q "HalcyraClient"; then break; fi
            kill -0 $pid 2>/dev/null || break
            sleep 0.1
        done
        sleep 0.5
        xwininfo -root -tree 2>/dev/null | grep "HalcyraClient"
        kill $pid 2>/dev/null; wait $pid 2>/dev/null
        true' _ "$home" "$work/tmp-$1" "$lang" "$app/HalcyraClient"
}

zh=$(titles_under zh_CN.UTF-8)
en=$(titles_under C)
echo "Windows under zh_CN.UTF-8:"; echo "$zh"
echo "Windows under C:"; echo "$en"
echo "$zh" | grep -q '"解析 INI 文件出错"' || fail "no translated settings-error box under LANG=zh_CN.UTF-8"
echo "$en" | grep -q '"parse INI file error"' || fail "no English settings-error box under LANG=C"

log="$work/home-zh_CN.UTF-8/halcyraclient/logs/hyc.log"
if [ -f "$log" ]; then
    grep -q "intalling translator" "$log" || fail "the log has no translator line"
else
    fail "no log written at $log"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "translation OK"
