#!/usr/bin/env bash
# Screenshots of the Windows program under Wine in a virtual screen: the settings dialog of a
# first start, and the main dialog during a run (files served slowly by nginx).
#   scripts/screenshot.sh [output-folder]     (default: build/screenshots)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
out=$(mkdir -p "${1:-build/screenshots}" && cd "${1:-build/screenshots}" && pwd)

bash scripts/setup.sh
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
command -v xwd >/dev/null && command -v convert >/dev/null ||
    $SUDO apt-get install -y x11-apps imagemagick
cmake --preset windows >/dev/null
cmake --build --preset windows --target KestrelSync ks_uidriver

build="$repo/build/windows"
work=$(mktemp -d /tmp/ks-shots.XXXXXX)
# A prefix of its own: one made for the tests without a screen uses Wine's null display driver.
export WINEPREFIX="$work/wine"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=ko_KR.UTF-8 TZ=KST-9
cleanup() {
    [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
    bash scripts/serve-nginx.sh stop "$work/nginx" || true
    rm -rf "$work"
}
trap cleanup EXIT
. scripts/virtual-screen.sh
start_virtual_screen 800x600x24
bash scripts/wine-prefix.sh
driver() { timeout 120 wine "$build/tests/ks_uidriver.exe" "$@" 2>/dev/null | tr -d '\r'; }
shot() { xwd -root -silent | convert xwd:- "$out/$1"; echo "wrote $out/$1"; }

# The settings dialog of a first start (no settings file).
app="$work/first start"
mkdir -p "$app"
cp "$build/src/KestrelSync.exe" "$app/"
(cd "$app" && timeout 300 wine KestrelSync.exe test >/dev/null 2>&1 &)
config=$(driver find-caption "환경설정" 30000)
sleep 1
shot settings-dialog.png
driver click "$config" 2
main=$(driver find-main 30000)
driver click "$main" 1

# The main dialog during a run, with files served at 200 KB/s.
tree="$work/server/prod"
mkdir -p "$tree/한글 자료"
head -c 3000000 /dev/urandom >"$tree/lumen-core.dll"
head -c 2000000 /dev/urandom >"$tree/한글 자료/안내 문서.txt"
printf 'lumen-core.dll\n한글 자료/안내 문서.txt,"한글 자료\\안내 문서.txt"\n' | iconv -f UTF-8 -t CP949 >"$tree/_listfile.txt"
port=$(KS_NGINX_LIMIT_RATE=200k bash scripts/serve-nginx.sh start "$work/server" "$work/nginx")
app="$work/run"
mkdir -p "$app/config"
cp "$build/src/KestrelSync.exe" "$app/"
printf '[VENTO]\r\nSVR_IP_ADDR=127.0.0.1\r\nSVR_PORT_NO=%s\r\nDOWNLOAD_BASE_URL=prod\r\n' "$port" >"$app/config/KestrelSync.ini"
(cd "$app" && timeout 300 wine KestrelSync.exe 2 >/dev/null 2>&1 &)
main=$(driver find-main 30000)
sleep 6
shot main-dialog-run.png
driver click "$main" 1
sleep 2
