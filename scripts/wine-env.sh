# Sourced by the scripts that run Windows programs under Wine.
#
#   WINEPREFIX  the prefix to use (default: build/wineprefix in the checkout)
#   wine64 ...  runs a 64-bit Windows program; Debian's 'wine' launcher would prefer a 32-bit
#               loader, and this machine cannot run 32-bit programs.
#   ensure_wine_prefix  makes the prefix on first use (about seven seconds) and starts its server.

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$repo_root/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
# Never offer to install Wine's .NET and HTML runtimes.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

WINE64=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
[ -x "$WINESERVER" ] || WINESERVER=/usr/lib/wine/wineserver

wine64() { "$WINE64" "$@"; }

# Starts the prefix's server detached from our output (Wine's helper processes inherit the
# caller's pipes and would keep them open); it stays a minute after its last client.
start_wineserver() { "$WINESERVER" -p60 >/dev/null 2>&1 </dev/null; }
stop_wineserver() { "$WINESERVER" -k >/dev/null 2>&1 || true; }

ensure_wine_prefix() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$WINE64" wineboot -i >/dev/null 2>&1 </dev/null
    "$WINESERVER" -w  # the registry is on disk once the server has gone
  fi
  start_wineserver
}
