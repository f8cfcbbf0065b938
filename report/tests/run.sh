#!/bin/bash
# Builds VBGuardReport.dll and its test program (64-bit), registers the DLL in a Wine prefix of
# its own and runs the tests; the 32-bit DLL is built too, to check its exports and imports.
#
#   report/tests/run.sh               everything, the window test under Xvfb when xvfb-run exists
#   report/tests/run.sh --screenshot  also saves a picture of the report window
#                                     (build/report/report-window.png)
#
#   WINEPREFIX  default build/report/wineprefix (made on first use, about ten seconds)
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)
out=$repo/build/report
screenshot=no
[ "${1:-}" = "--screenshot" ] && screenshot=yes
mkdir -p "$out"

export WINEPREFIX=${WINEPREFIX:-$out/wineprefix}
# shellcheck source=../../scripts/wine-env.sh
source "$repo/scripts/wine-env.sh"
# The report text is checked with English (United States) dates and numbers.
export LC_ALL=C.UTF-8

failed=0
winpath() { local unix=$1; printf 'Z:%s' "${unix//\//\\}"; }
step() { printf '\n== %s\n' "$*"; }
outcome() { if [ "$1" -eq 0 ]; then echo "ok: $2"; else echo "FAILED: $2"; failed=1; fi; }

step "build"
for arch in x86_64:win64 i686:win32; do
  triple=${arch%%:*} dir=$out/${arch##*:}
  cmake -S "$repo/report" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-$triple.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DPATCH_TEST_BUILD=ON >"$out/cmake-$triple.log"
  cmake --build "$dir" -j2 >>"$out/cmake-$triple.log" 2>&1 || { cat "$out/cmake-$triple.log"; exit 1; }
done

step "exports and imports"
for arch in x86_64:win64 i686:win32; do
  triple=${arch%%:*} dll=$out/${arch##*:}/VBGuardReport.dll
  dump=$("$triple-w64-mingw32-objdump" -p "$dll")
  exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | grep -o 'Dll[A-Za-z]*' | sort | tr '\n' ' ')
  [ "$exports" = "DllCanUnloadNow DllGetClassObject DllInstall DllRegisterServer DllUnregisterServer " ]
  outcome $? "$triple exports: $exports"
  imports=$(grep 'DLL Name' <<<"$dump" | awk '{print $3}' | tr '[:upper:]' '[:lower:]' | sort | tr '\n' ' ')
  [ "$imports" = "advapi32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll user32.dll " ]
  outcome $? "$triple imports only Windows DLLs: $imports"
done

step "Wine prefix $WINEPREFIX"
ensure_wine_prefix
dll=$(winpath "$out/win64/VBGuardReport.dll")
tests=$out/win64/tests/report_test.exe

step "machine registration and the COM contract"
wine64 regsvr32 /s "$dll" >"$out/regsvr32.log" 2>&1
outcome $? "regsvr32 $dll"
wine64 "$tests" >"$out/report_test.log" 2>&1
outcome $? "report_test.exe (details in build/report/report_test.log)"
grep -E '^\[ +(OK|FAIL) +\]|FAILED' "$out/report_test.log"

step "registration for the current user (regsvr32 /n /i:user)"
wine64 regsvr32 /s /n /i:user "$dll" >>"$out/regsvr32.log" 2>&1
outcome $? "regsvr32 /n /i:user"
wine64 "$tests" --user-registration yes >"$out/user_registration.log" 2>&1
outcome $? "keys under HKCU\\Software\\Classes"
wine64 regsvr32 /s /u /n /i:user "$dll" >>"$out/regsvr32.log" 2>&1
outcome $? "regsvr32 /u /n /i:user"
wine64 "$tests" --user-registration no >>"$out/user_registration.log" 2>&1
outcome $? "HKCU keys removed"
cat "$out/user_registration.log"

step "the report window (Xvfb)"
if ! command -v xvfb-run >/dev/null; then
  echo "skipped: xvfb-run is not installed"
else
  # Wine's window processes belong to one display: start them afresh under Xvfb.
  stop_wineserver
  shots=$out/shots
  rm -rf "$shots" && mkdir -p "$shots"
  folder=$(winpath "$shots")
  # In Italian, as the utility's users see it: Wine takes the language from LC_ALL even where
  # the C library has no such locale.
  if [ "$screenshot" = yes ]; then
    # Wine's own desktop window, so that windows have their caption bars.
    LC_ALL=it_IT.UTF-8 xvfb-run -a -s "-screen 0 1000x800x24" sh -c '
      "$0" explorer /desktop=report,1000x800 "$1" --interactive "$2" >"$3/interactive.log" 2>&1 &
      for _ in $(seq 600); do [ -e "$3/shown" ] && break; sleep 0.1; done
      [ -e "$3/shown" ] && import -window root "$4" && touch "$3/taken"
      wait' "$WINE64" "$(winpath "$tests")" "$folder" "$shots" "$out/report-window.png"
    [ "$(cat "$shots/result" 2>/dev/null)" = PASSED ]
    outcome $? "buttons answer 3, 4 and 5; screenshot in build/report/report-window.png"
  else
    LC_ALL=it_IT.UTF-8 xvfb-run -a -s "-screen 0 1000x800x24" "$WINE64" "$tests" --interactive \
      >"$shots/interactive.log" 2>&1
    outcome $? "buttons answer 3, 4 and 5, the utility's window disabled meanwhile"
  fi
  cat "$shots/interactive.log"
  stop_wineserver
fi

echo
[ $failed -eq 0 ] && echo "ALL PASSED" || echo "SOME FAILED"
exit $failed
