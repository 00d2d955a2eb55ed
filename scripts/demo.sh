#!/usr/bin/env bash
# A real update from a local HTTP server: installs what is needed, builds the native updater,
# serves a copy of examples/ with nginx, updates a fresh program folder, updates it again (this
# time nothing is downloaded), shows where the log is, and checks its own result: every file
# of the list is in the program folder with the server's time, the second run fetched nothing
# but the list, and the log holds both runs. Exits non-zero when a check fails.
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
mkdir -p "$tree/fonts" # git keeps no empty folder
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
# Seoul time, the workstations' zone: a file's time is then the server's to the second.
export TZ=KST-9
mkdir -p "$HOME/Desktop"
scripts/wine-prefix.sh

count_requests() { (cat "$demo/nginx/access.log" 2>/dev/null || true) | wc -l; }
status=()
for run in 1 2; do
    echo
    echo "=== Update run $run ==="
    requests_before=$(count_requests)
    # The argument "demo" keeps the run in this process (without it the updater hands over to
    # its run copy and returns at once, as a shortcut start does).
    rc=0
    (cd "$app" && ./KestrelSync.exe demo </dev/null) || rc=$?
    status+=("$rc")
    [ "$rc" -eq 0 ] || echo "(run $run ended with status $rc)"
done
timeout 60 wineserver -w 2>/dev/null || true
# The second run's requests: the lines nginx logged after the first run.
second_run=$(tail -n +"$((requests_before + 1))" "$demo/nginx/access.log")

echo
echo "Program folder: $app"
echo "Log: $(ls "$app"/log/*.log)"
echo "Shortcuts: $(cd "$HOME" && find . -name '*.desktop' | sort | tr '\n' ' ')"
echo "Requests the server answered: $(count_requests)"

echo
echo "=== Checking the result ==="
failed=0
check() { if [ "$1" = ok ]; then echo "ok: $2"; else echo "FAILED: $2" >&2; failed=1; fi; }
[ "${status[0]}" -eq 0 ] && [ "${status[1]}" -eq 0 ] && r=ok || r=no
check "$r" "both runs completed (exit status ${status[*]})"
# Every item of the list is where the list puts it, with the server file's time; the DEL
# item is gone.
if python3 - "$tree" "$app" "$WINEPREFIX/drive_c/windows/system32" <<'PY'; then r=ok; else r=no; fi
import csv, os, sys
tree, app, system_dir = sys.argv[1:]
bad = 0
with open(os.path.join(tree, "_listfile.txt"), encoding="utf-8") as f:
    lines = [l.rstrip("\r\n") for l in f if l.strip() and l[0] not in "#!"]
for fields in csv.reader(lines):
    fields = [x for x in fields if x != ""]
    server = fields[0]
    local = fields[1] if len(fields) > 1 else server
    kind = fields[3].strip().upper()[:3] if len(fields) > 3 else "FIL"
    local = local.replace("%SystemDir%", system_dir).replace("\\", "/")
    path = local if local.startswith("/") else os.path.join(app, local)
    if kind == "DEL":
        if os.path.exists(path):
            print("  still there after its deletion:", path); bad = 1
        continue
    source = os.path.join(tree, server)
    if not os.path.isfile(path):
        print("  missing:", path); bad = 1
    elif int(os.stat(path).st_mtime) != int(os.stat(source).st_mtime):
        print("  time differs from the server's:", path); bad = 1
    elif open(path, "rb").read() != open(source, "rb").read():
        print("  content differs from the server's:", path); bad = 1
sys.exit(bad)
PY
check "$r" "every file of the list is in the program folder with the server's time"
gets=$(awk '$3 == "GET" { print $4 }' <<<"$second_run" | tr '\n' ' ')
[ "$gets" = '"/lumen/version/forge/prod/master/_listfile.txt" ' ] && r=ok || r=no
check "$r" "the second run downloaded nothing but the list (GET: $gets)"
starts=$(grep -c 'CVentoApp::InitInstance> Vento Start' "$app"/log/KestrelSync_demo_*.log || true)
[ "$starts" -eq 2 ] && r=ok || r=no
check "$r" "the log holds both runs ($starts starts)"
exit $failed
