#!/usr/bin/env bash
# A real update from a local HTTP server: installs what is needed, builds the native updater,
# serves a copy of examples/ with nginx, updates a fresh program folder, updates it again (this
# time nothing is downloaded) and shows where the log is.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"

bash scripts/setup.sh
cmake --preset native-release >/dev/null
cmake --build --preset native-release --target KestrelSync

demo=${KS_DEMO_DIR:-$(mktemp -d /tmp/kestrelsync-demo.XXXXXX)}
mkdir -p "$demo"
echo "Demo folder: $demo"

# The server: a copy of the sample tree, with a font of this machine as its font file.
rm -rf "$demo/server"
cp -r examples "$demo/server"
tree="$demo/server/lumen/version/forge/prod/master"
font=$(ls /usr/share/fonts/truetype/nanum/NanumGothic.ttf \
          /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf 2>/dev/null | head -n 1 || true)
if [ -n "$font" ]; then cp "$font" "$tree/fonts/LumenSans.ttf"; else head -c 4096 /dev/urandom >"$tree/fonts/LumenSans.ttf"; fi
port=$(scripts/serve-nginx.sh start "$demo/server" "$demo/nginx")
if [ -e "$demo/nginx/unavailable" ]; then echo "nginx is needed for the demo" >&2; exit 1; fi
trap 'scripts/serve-nginx.sh stop "$demo/nginx"' EXIT
echo "Serving $demo/server on http://127.0.0.1:$port/"

# The workstation: a fresh program folder, its own Wine prefix and fonts folder.
app="$demo/app"
rm -rf "$app"
mkdir -p "$app/config" "$app/bin"
cp build/native-release/src/KestrelSync "$app/KestrelSync.exe"
cat >"$app/config/KestrelSync.ini" <<INI
[VENTO]
SVR_IP_ADDR=127.0.0.1
SVR_PORT_NO=$port
DOWNLOAD_BASE_URL=lumen/version/forge/prod/master
LIST_FILE_NAME=_listfile.txt
LINK_APPEND_NAME=
TIME_CHECK_SPAN=5
INI
echo "an obsolete library that the list deletes" >"$app/bin/obsolete.dll"
# The demo's own Wine prefix and home (the shortcuts written at the end land there).
export WINEPREFIX="$demo/wine" HOME="$demo/home" XDG_DATA_HOME="$demo/home/.local/share"
mkdir -p "$HOME/Desktop"
scripts/wine-prefix.sh

for run in 1 2; do
    echo
    echo "=== Update run $run ==="
    # The argument "demo" keeps the run in this process (without it the updater hands over to
    # its run copy and returns at once, as a shortcut start does).
    (cd "$app" && ./KestrelSync.exe demo </dev/null) || echo "(run $run ended with status $?)"
done
timeout 60 wineserver -w 2>/dev/null || true

echo
echo "Program folder: $app"
echo "Log: $(ls "$app"/log/*.log)"
echo "Shortcuts: $(cd "$HOME" && find . -name '*.desktop' | sort | tr '\n' ' ')"
echo "Requests the server answered: $(wc -l <"$demo/nginx/access.log")"
