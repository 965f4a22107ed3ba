#!/usr/bin/env bash
# The demo server as someone trying the client meets it: what it serves, the job files it keeps in its data
# folder and how the job list follows them, scan jobs from files, the QR confirmation, the request log,
# restarting on the same folder, HTTPS and a port that is taken.
# Usage: devserver.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
BUILD=$(cd "$1" && pwd)
DEVSERVER="$BUILD/bin/devserver"
[ -x "$DEVSERVER" ] || { echo "FAIL: $DEVSERVER not built"; exit 1; }
command -v curl >/dev/null || { echo "SKIP: curl is not installed (scripts/install-deps installs it)"; exit 0; }

work=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# Polls a condition for up to 20 s (the server folds its folder in every quarter second).
eventually() { for _ in $(seq 1 200); do eval "$1" && return 0; sleep 0.1; done; return 1; }

# start NAME ARGS...: starts a devserver, waits for its first line and sets PORT and URL.
start() {
    local name=$1; shift
    "$DEVSERVER" "$@" >"$work/$name.log" 2>&1 &
    pids+=($!)
    LAST_PID=$!
    URL=""
    for _ in $(seq 1 200); do
        URL=$(sed -n 's/^devserver: listening on \([^ ]*\) (port [0-9]*)$/\1/p' "$work/$name.log")
        [ -n "$URL" ] && break
        kill -0 "$LAST_PID" 2>/dev/null || break
        sleep 0.05
    done
    PORT=${URL##*:}
}
get() { curl -sk "$URL$1"; }
post() { curl -sk -X POST "$@"; }
has() { echo "$1" | grep -q -- "$2"; }

data="$work/data"
start a --port 0 --data "$data" --processing-seconds 0
[ -n "$URL" ] || { cat "$work/a.log"; echo "FAIL: the devserver did not start"; exit 1; }
[ "$URL" = "http://127.0.0.1:$PORT" ] || fail "listening line names $URL"
eventually 'grep -q "^QR login" "$work/a.log"'

# The demo accounts are printed, and their rights differ as announced.
grep -q '^  alice  / alice123 ' "$work/a.log" || fail "alice is not listed with her password"
grep -q '^  bob    / bob123 ' "$work/a.log" || fail "bob is not listed with his password"
alice=$(get "/User/BAS_UserPermission?UserAccount=alice")
bob=$(get "/User/BAS_UserPermission?UserAccount=bob")
has "$alice" '"IsAllowPrintColor":true' || fail "alice may not print in colour: $alice"
has "$bob" '"IsAllowPrintColor":false' || fail "bob may print in colour: $bob"
has "$bob" '"IsAllowSimple":false' || fail "bob may print single-sided: $bob"
has "$(get "/PersonalInfo/ClientUserBaseInfo?UserAccount=alice")" '"Email":"alice@' || fail "no details for alice"

devices=$(get "/Device/BAS_DeviceStatusList?Type=0&UserAccount=alice")
has "$devices" '"UseCardReader":true' || fail "no printer with card reader: $devices"
has "$devices" '"UseCardReader":false' || fail "no printer without card reader: $devices"
has "$(get "/User/BAS_ProjectList?strUserAccount=alice")" '"ProjectName"' || fail "no fee projects"
has "$(get "/User/BAS_GetPinCodeByAccount?UserAccount=alice")" '"PinCode":"[0-9]' || fail "no pin code for alice"
has "$(get "/Orvinaweb/GetClientConfigInfo")" '"Key":"ShowQR","Section":"setting","Value":"true"' ||
    fail "the client settings do not switch the QR login on"
has "$(get "/Orvinaweb/BAS_CheckClientUpdate_New?UserAccount=alice&type=3&SysType=amd")" '"data":"1.2.0"' ||
    fail "no newer client version offered"
[ -n "$(get "/MyJob/ResponseDownLoad?type=3&SysType=amd")" ] || fail "no update package"

ts=$(date +%s)
sig=$(printf '%s4152063918270' "$ts" | md5sum | cut -d' ' -f1 | tr a-f A-F)
sites=$(get "/KSS/GetIPSegment?Timestamp=$ts&Signature=$sig")
has "$sites" "\"SiteUrl\":\"$URL\"" || fail "this server is not a site: $sites"
has "$sites" "\"SiteUrl\":\"http://localhost:$PORT\"" || fail "the second site is not this server: $sites"

# Scan jobs are the files under scans/<account>/.
scans=$(get "/Job/BAS_ScanJobList?UserAccount=alice")
[ "$(echo "$scans" | grep -o '"JobID"' | wc -l)" -eq 2 ] || fail "alice should have two sample scans: $scans"
first=$(echo "$scans" | sed 's/.*"JobID":\([0-9]*\),"JobName":"Contract scan.pdf".*/\1/')
get "/Job/BAS_DownloadScanJob?JobID=$first" >"$work/scan.pdf"
cmp -s "$work/scan.pdf" "$data/scans/alice/Contract scan.pdf" || fail "the downloaded scan differs from its file"
head -c 5 "$work/scan.pdf" | grep -q '%PDF-' || fail "the sample scan is not a PDF"
eventually 'has "$(get "/Job/BAS_ScanJobList?UserAccount=alice")" "\"JobID\":$first,\"JobName\":\"Contract scan.pdf\",\"StatusID\":14"' ||
    fail "a downloaded scan is not marked downloaded"
echo "new scan" >"$data/scans/alice/Fresh.pdf"
eventually 'has "$(get "/Job/BAS_ScanJobList?UserAccount=alice")" "Fresh.pdf"' || fail "a dropped file does not become a scan job"
get "/Job/BAS_DeleteScanJob?UserAccount=alice&JobID%5B0%5D=$first" >/dev/null
eventually '[ ! -e "$data/scans/alice/Contract scan.pdf" ]' || fail "deleting a scan job keeps its file"

# A job as the client sends it: announce, two chunks, confirm.
upload() { # upload NAME FILE -> prints the job id
    local id
    id=$(post --data-urlencode "UserAccount=alice" --data-urlencode "FileName=$1" -d "DocumentPages=1&Copies=1&Color=0" \
        "$URL/Job/BAS_SubmitPrintJob" | sed -n 's/.*"data":\([0-9]*\).*/\1/p')
    head -c 300 "$2" >"$work/chunk1"
    tail -c +301 "$2" >"$work/chunk2"
    for c in chunk1 chunk2; do
        post -H "Content-Type: multipart/form-data; boundary=x" --data-binary "@$work/$c" \
            "$URL/Job/BAS_UploadJobFile?JobID=$id&UserAccount=alice&FileSize=$(stat -c%s "$2")&FileName=x" >/dev/null
    done
    post -d "JobID=$id" "$URL/Job/BAS_UploadComplete" >/dev/null
    echo "$id"
}
"$DEVSERVER" sample-pdf "$work/job.pdf" || fail "sample-pdf failed"
grep -q '%%EOF' "$work/job.pdf" || fail "sample-pdf wrote no complete PDF"
id=$(upload "Quarterly report/2024?.pdf" "$work/job.pdf")
[ -n "$id" ] || fail "the job was not announced"
stored="$data/jobs/waiting/$id-Quarterly report_2024_.pdf"
eventually '[ -f "$stored" ]' || { ls -R "$data/jobs"; fail "the upload did not land in jobs/waiting/ under a safe name"; }
cmp -s "$stored" "$work/job.pdf" || fail "the stored job differs from what was uploaded"
has "$(cat "$data/jobs/index/$id.json")" '"UserAccount": "alice"' || fail "the job's index file lacks its account"
has "$(get "/Job/BAS_JobStausList?UserAccount=alice")" "\"JobID\":$id,.*\"StatusID\":5" ||
    fail "the waiting job is not listed as waiting for release"
mv "$stored" "$data/jobs/printed/"
eventually '! has "$(get "/Job/BAS_JobStausList?UserAccount=alice")" "\"JobID\":$id,"' ||
    fail "a job moved to printed/ stays in the job list"

cancelled=$(upload "to cancel.pdf" "$work/job.pdf")
eventually '[ -f "$data/jobs/waiting/$cancelled-to cancel.pdf" ]' || fail "second upload not stored"
get "/Job/BAS_CancelJob?UserAccount=alice&Type=0&JobID%5B0%5D=$cancelled" >/dev/null
eventually '[ -f "$data/jobs/cancelled/$cancelled-to cancel.pdf" ]' || fail "a cancelled job's file is not moved to cancelled/"
kept=$(upload "kept.pdf" "$work/job.pdf")
eventually '[ -f "$data/jobs/waiting/$kept-kept.pdf" ]' || fail "third upload not stored"

# The QR confirmation, as a phone would give it.
get "/api/client/invoke?clientId=c-1" >/dev/null
"$DEVSERVER" qr-confirm --port "$PORT" --client-id c-1 --account alice >/dev/null || fail "qr-confirm refused"
has "$(get "/api/client/account?clientId=c-1")" '"account":"alice"' || fail "the confirmed account is not handed to the client"
"$DEVSERVER" qr-confirm --port "$PORT" --client-id c-1 --account nobody >/dev/null 2>&1 && fail "qr-confirm accepted an unknown account"
"$DEVSERVER" qr-confirm --port "$PORT" --client-id unknown --account alice >/dev/null 2>&1 && fail "qr-confirm accepted an unknown client"
has "$(get "/View/QRLogin?clientId=c-1")" "Log in as bob" || fail "the QR page offers no account"

# One line per request; passwords never appear.
get "/Orvinaweb/BAS_ClientLoginNew?UserAccount=YWxpY2U%3D&Password=YWxpY2UxMjM%3D" >/dev/null
eventually 'grep -q "GET /Job/BAS_JobStausList?UserAccount=alice -> 200 code 0, [0-9] item(s)" "$work/a.log"' ||
    fail "the job list request is not logged"
grep -q "YWxpY2UxMjM" "$work/a.log" && fail "a password reached the log"

kill "$LAST_PID"; wait "$LAST_PID"
[ $? -eq 0 ] || fail "the devserver did not end cleanly on SIGTERM"
grep -q "devserver stopped" "$work/a.log" || fail "no stop line"

# Restarted on the same folder: the waiting job is back, new jobs get new numbers.
start b --port 0 --data "$data" --processing-seconds 3600
list=$(get "/Job/BAS_JobStausList?UserAccount=alice")
has "$list" "\"JobID\":$kept,.*\"StatusID\":5" || fail "the waiting job is lost on restart: $list"
has "$list" "\"JobID\":$id," && fail "the printed job came back on restart"
fresh=$(upload "after restart.pdf" "$work/job.pdf")
[ "$fresh" -gt "$kept" ] || fail "job number $fresh reused after restart"
eventually '[ -f "$data/jobs/processing/$fresh-after restart.pdf" ]' || fail "upload after restart not stored"
has "$(get "/Job/BAS_JobStausList?UserAccount=alice")" "\"JobID\":$fresh,.*\"StatusID\":51" ||
    fail "a job still processing is not listed as processing"

# A port already taken is refused with a reason.
"$DEVSERVER" --port "$PORT" --data "$work/other" >"$work/c.log" 2>&1
[ $? -ne 0 ] && grep -q "cannot listen" "$work/c.log" || fail "a taken port is not reported"

# HTTPS on request.
start d --port 0 --data "$work/secure" --https
case "$URL" in https://127.0.0.1:*) ;; *) fail "--https serves $URL";; esac
has "$(get "/User/BAS_GetPinCodeByAccount?UserAccount=bob")" '"IsExpired":true' || fail "no answer over HTTPS"
get "/api/client/invoke?clientId=c-2" >/dev/null
"$DEVSERVER" qr-confirm --port "$PORT" --https --client-id c-2 --account bob >/dev/null || fail "qr-confirm over HTTPS"

if [ "$failures" -ne 0 ]; then
    echo "--- devserver log"; cat "$work/a.log"
    echo "$failures check(s) failed"
    exit 1
fi
echo "devserver OK"
