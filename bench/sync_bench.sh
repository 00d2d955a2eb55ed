#!/usr/bin/env bash
# Sync benchmark: KestrelSync against wget, rclone and lftp on a generated tree of 2,000 files
# (about 150 MB) served by nginx on 127.0.0.1. See bench/sync_bench.py for what is measured.
#   bench/sync_bench.sh [work-dir]
#   bench/sync_bench.sh publish [work-dir]   the operators' tool against sha256sum
#   bench/sync_bench.sh release [work-dir]   a release into a store against sha256sum + cp -r
#   bench/sync_bench.sh proxy [work-dir]     runs through squid against the same runs direct
#   bench/sync_bench.sh forms [work-dir]     bytes and time of updates with patches and
#                                            compressed copies, against zsync and full objects
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
bash scripts/setup.sh
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
missing=()
for p in wget rclone lftp time curl; do
    [[ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" == *"install ok installed"* ]] || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    $SUDO apt-get install -y "${missing[@]}" || echo "could not install: ${missing[*]} (those peers are left out)"
fi
cmake --preset native-release >/dev/null
cmake --build --preset native-release --target KestrelSync kestrelsync-publish
if [ "${1:-}" = publish ]; then
    exec python3 bench/publish_bench.py "$repo" "${2:-/tmp/kestrelsync-publish-bench}"
fi
if [ "${1:-}" = release ]; then
    exec python3 bench/release_bench.py "$repo" "${2:-/tmp/kestrelsync-release-bench}"
fi
if [ "${1:-}" = forms ]; then
    [[ "$(dpkg-query -W -f='${Status}' zsync 2>/dev/null)" == *"install ok installed"* ]] ||
        $SUDO apt-get install -y zsync
    cmake --preset windows >/dev/null && cmake --build --preset windows --target KestrelSync ||
        echo "the Windows build failed: the Wine row is left out"
    exec python3 bench/forms_bench.py "$repo" "${2:-/tmp/kestrelsync-forms-bench}"
fi
if [ "${1:-}" = proxy ]; then
    exec python3 bench/proxy_bench.py "$repo" "${2:-/tmp/kestrelsync-proxy-bench}"
fi
exec python3 bench/sync_bench.py "$repo" "${1:-/tmp/kestrelsync-bench}"
