#!/usr/bin/env bash
# The whole Windows process chain under Wine, against nginx, in a virtual screen:
#  1. "KestrelSync.exe" without an argument starts "KestrelSyncRun1.exe" with "1"; Start is
#     pressed through the window; the files arrive; "Lumen@Forge.exe" (a stand-in that
#     records its start) is started; the dialog closes; the shortcuts exist.
#  2. The server holds a newer "KestrelSync.exe": Start stores it, "KestrelSyncRun2.exe"
#     starts with "2" and runs by itself to the end.
#   chain.sh <windows-build-dir> <source-dir>
set -euo pipefail
build=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
work=$(mktemp -d /tmp/ks-e2e.XXXXXX)
export WINEPREFIX="$work/wine"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=ko_KR.UTF-8 TZ=KST-9

fail() { echo "FAIL: $*" >&2; exit 1; }
pass() { echo "ok: $*"; }

cleanup() {
    [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
    [ -n "${suffix:-}" ] && rm -f "$WINEPREFIX/drive_c/users/$(id -un)/Desktop/Lumen Forge $suffix.lnk"
    timeout 20 wineserver -k 2>/dev/null || true
    bash "$src/scripts/serve-nginx.sh" stop "$work/nginx" || true
    [ -n "${KS_E2E_KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

. "$src/scripts"/virtual-screen.sh
start_virtual_screen 1024x768x24

timeout 300 wineboot -i >/dev/null 2>&1 || fail "wineboot"
# One command of the driver; a status other than 0 is named on standard error, so that no
# step of the script ends it without saying which.
driver() {
    local out status=0
    out=$(timeout 120 wine "$build/tests/ks_uidriver.exe" "$@" 2>/dev/null) || status=$?
    [ -z "$out" ] || printf '%s\n' "$out" | tr -d '\r'
    [ "$status" -eq 0 ] || echo "ks_uidriver $1: status $status" >&2
    return "$status"
}
# Presses Start. What counts is what the press does, which the next step checks: a status
# that Wine gives the driver after the message went out does not end the script.
press_start() { driver click "$1" 1002 || true; }

# The server: the stand-in application, a Korean document and the list (CP949).
tree="$work/server/prod"
mkdir -p "$tree/doc"
cp "$build/tests/ks_fakeapp.exe" "$tree/Lumen@Forge.exe"
printf '안내 문서\n' >"$tree/doc/안내 문서.txt"
printf 'Lumen@Forge.exe\ndoc/안내 문서.txt,doc\\안내 문서.txt\n' | iconv -f UTF-8 -t CP949 >"$tree/_listfile.txt"
port=$(bash "$src/scripts/serve-nginx.sh" start "$work/server" "$work/nginx")
[ -e "$work/nginx/unavailable" ] && fail "nginx is not installed"

suffix="e2e$RANDOM"
make_app() {
    local app=$1
    mkdir -p "$app/config"
    cp "$build/src/KestrelSync.exe" "$app/KestrelSync.exe"
    printf '[VENTO]\r\nSVR_IP_ADDR=127.0.0.1\r\nSVR_PORT_NO=%s\r\nDOWNLOAD_BASE_URL=prod\r\nLIST_FILE_NAME=_listfile.txt\r\nLINK_APPEND_NAME=%s\r\nTIME_CHECK_SPAN=5\r\n' "$port" "$suffix" >"$app/config/KestrelSync.ini"
}
# Checks read whole texts (grep -q on a pipe may stop reading early, which pipefail counts as
# a failure of the writer).
log_of() { iconv -f CP949 -t UTF-8 "$1"/log/"$2"_*.log | tr -d '\r'; }

# ---- 1. the chain from the shortcut to the started application ----------------------------
app="$work/Lumen App 1"
make_app "$app"
(cd "$app" && timeout 120 wine KestrelSync.exe >/dev/null 2>&1) || fail "KestrelSync.exe did not hand over"
hwnd=$(driver find-main 60000) || fail "the run copy's dialog did not appear"
pass "KestrelSyncRun1.exe shows the dialog"
[ -e "$app/KestrelSyncRun1.exe" ] || fail "no KestrelSyncRun1.exe"
ls "$app"/log/KestrelSync_2*.log >/dev/null 2>&1 && fail "the first process wrote a log"
rows=$(driver rows "$hwnd")
grep -q $'^0\t.*\tProgram Argument = 1$' <<<"$rows" || fail "argument row: $rows"
[ "$(driver text "$hwnd" 1002)" = "시작(&S)" ] || fail "Start text"
[ "$(driver text "$hwnd" 1006)" = "" ] || fail "step text not cleared"
[ "$(driver enabled "$hwnd" 1003)" = 1 ] || fail "Stop not enabled at start"
pass "controls and the argument row read back through the window"
press_start "$hwnd"
driver wait-gone "$hwnd" 120000 || fail "the dialog did not close after the run"
pass "the run ended and the dialog closed"
for _ in $(seq 1 100); do [ -s "$app/Lumen@Forge.exe.started" ] && break; sleep 0.2; done
[ -s "$app/Lumen@Forge.exe.started" ] || fail "Lumen@Forge.exe was not started"
[ "$(cat "$app/doc/안내 문서.txt")" = "안내 문서" ] || fail "the Korean document did not arrive"
pass "files synced and Lumen@Forge.exe started"
# The process writes the shortcuts and its last line after the dialog has gone.
for _ in $(seq 1 100); do
    grep -q "Delete g_pMyLog.$" <<<"$(log_of "$app" KestrelSync_1 | tail -n 1)" && break
    sleep 0.2
done
log=$(log_of "$app" KestrelSync_1)
for line in "CVentoApp::InitInstance> Vento Start..." "CVentoDlg::OnButtonStart> Create Vento Engine" \
            "CSyncEngine::IsSelfFileUpdated> GetServerFileInfo() Fail, RetVal = -5" \
            "CobaltSyncThreadMain> nAllSequenceSuccessFlag = 1" "CVentoCtrl::CopyAndRun> Agent Start, PID = "; do
    grep -qF "$line" <<<"$log" || fail "log line missing: $line"
done
grep -q "DEBUG CVentoApp::ExitInstance> Delete g_pMyLog.$" <<<"$(tail -n 1 <<<"$log")" || fail "last log line"
[ "$(echo "$log" | grep -c 'ERROR CVentoApp::CreateCobaltAppEnvLink> 바탕화면에 링크 생성 성공')" = 3 ] || fail "shortcut log lines"
pass "the log holds the chain's lines"
# Wine links the Windows desktop to the user's own desktop folder.
users="$WINEPREFIX/drive_c/users/$(id -un)"
menu="$users/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Arbor Lumen"
links=$(ls "$users/Desktop/Lumen Forge $suffix.lnk" "$menu/Lumen Forge $suffix.lnk" \
           "$menu/Lumen Forge - 다운로드 장애시 $suffix.lnk" 2>/dev/null)
[ "$(echo "$links" | grep -c .)" = 3 ] || fail "shortcuts: $links"
while IFS= read -r link; do
    target=$(driver link-target "$(winepath -w "$link" 2>/dev/null | tr -d '\r')")
    case "$link" in
        *"다운로드 장애시 $suffix.lnk") grep -q 'Lumen@Forge.exe$' <<<"$target" || fail "emergency target $target" ;;
        *) grep -q 'KestrelSync.exe$' <<<"$target" || fail "updater target $target" ;;
    esac
done <<<"$links"
grep -q "/Arbor Lumen/Lumen Forge - 다운로드 장애시 $suffix.lnk" <<<"$links" || fail "emergency shortcut"
pass "three shortcuts with their names and targets"

# ---- 2. a newer updater on the server: relaunch with "2" ----------------------------------
cp "$build/src/KestrelSync.exe" "$tree/KestrelSync.exe"
touch -d '+1 day' "$tree/KestrelSync.exe"
app="$work/Lumen App 2"
make_app "$app"
(cd "$app" && timeout 120 wine KestrelSync.exe >/dev/null 2>&1) || fail "hand-over (2)"
hwnd=$(driver find-main 60000) || fail "dialog (2)"
press_start "$hwnd"
for _ in $(seq 1 300); do [ -s "$app/Lumen@Forge.exe.started" ] && break; sleep 0.2; done
[ -s "$app/Lumen@Forge.exe.started" ] || fail "the relaunched copy did not complete the run"
[ -e "$app/KestrelSyncRun2.exe" ] || fail "no KestrelSyncRun2.exe"
cmp -s "$app/KestrelSync.exe" "$tree/KestrelSync.exe" || fail "the updater was not replaced"
grep -qF "CVentoDlg::OnButtonStart> Vento Program is Updated, So Start New Program" <<<"$(log_of "$app" KestrelSync_1)" || fail "update line"
for _ in $(seq 1 100); do
    grep -q "Delete g_pMyLog.$" <<<"$(log_of "$app" KestrelSync_2 | tail -n 1)" && break
    sleep 0.2
done
grep -qF "CVentoCtrl::CopyAndRun> Agent Start, PID = " <<<"$(log_of "$app" KestrelSync_2)" || fail "run of the copy with 2"
grep -qF "CVentoDlg::IsSelfFileUpdated" <<<"$(log_of "$app" KestrelSync_2)" && fail "the copy with 2 checked for an update"
pass "self-update, relaunch with 2 and a run that started by itself"
echo "end-to-end chain: all checks passed"
