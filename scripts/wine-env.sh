# Sourced by the scripts that run Windows programs under Wine.
#
#   WINEPREFIX  the prefix to use (default: build/wineprefix in the checkout)
#   wine64 ...  runs a Windows program through the 64-bit loader, which hands a 32-bit program
#               on to WoW64 itself; Debian's 'wine' launcher would prefer the 32-bit loader,
#               which machines that run no 32-bit programs lack.
#   ensure_wine_prefix  makes the prefix on first use (seven seconds, about thirty with the
#               32-bit half) and starts its server.

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

# A prefix made before Wine's 32-bit half was installed has nothing in C:\windows\syswow64 (at
# most the empty folder) and runs no 32-bit program: where this machine runs them, such a
# prefix is made again.
prefix_lacks_wow64() {
  [ -f "$WINEPREFIX/system.reg" ] && [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ] &&
    [ -x /usr/lib/wine/wine ] && "$repo_root/scripts/runs-32bit" >/dev/null
}

ensure_wine_prefix() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  if prefix_lacks_wow64; then
    echo "Making $WINEPREFIX again, with its 32-bit half (C:\windows\syswow64)" >&2
    stop_wineserver
    rm -rf "$WINEPREFIX"
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$WINE64" wineboot -i >/dev/null 2>&1 </dev/null
    "$WINESERVER" -w  # the registry is on disk once the server has gone
  fi
  start_wineserver
}
