#!/usr/bin/env bash
# Runs a Windows program under Wine: prepared prefix, no debug chatter, a Korean ANSI code
# page (949) and a time zone the Windows C runtime reads, all bounded in time. A crash ends the
# program at once (no debugger waits for a person), so a suite fails instead of hanging.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/wine-prefix.sh"
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml,winedbg.exe=}
export LC_ALL=${KS_WINE_LOCALE:-ko_KR.UTF-8}
export TZ=${KS_WINE_TZ:-KST-9}
exec timeout --kill-after=10 "${KS_WINE_TIMEOUT:-900}" wine "$@"
