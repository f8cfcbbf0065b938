#!/bin/bash
# Saves a picture of the report window as the utility's users see it (Italian, in Wine's own
# desktop window so that it has its caption bar): build/report-window.png. Needs the win64
# build and the DLL registered (ctest --preset win64 -R report_register).
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$repo/scripts/wine-env.sh"
winpath() { local unix=$1; printf 'Z:%s' "${unix//\//\\}"; }

shots=$(mktemp -d)
trap 'rm -rf "$shots"; stop_wineserver' EXIT
stop_wineserver
ensure_wine_prefix
LC_ALL=it_IT.UTF-8 xvfb-run -a -s "-screen 0 1000x800x24" sh -c '
  "$0" explorer /desktop=report,1000x800 "$1" --interactive "$2" >"$3/interactive.log" 2>&1 &
  for _ in $(seq 600); do [ -e "$3/shown" ] && break; sleep 0.1; done
  [ -e "$3/shown" ] && import -window root "$4" && touch "$3/taken"
  wait' "$WINE64" "$(winpath "$repo/build/win64/report/tests/report_test.exe")" "$(winpath "$shots")" "$shots" \
  "$repo/build/report-window.png"
cat "$shots/interactive.log"
[ "$(cat "$shots/result" 2>/dev/null)" = PASSED ] && echo "saved build/report-window.png"
