#!/bin/bash
# Checks a built VBGuardReport.dll without running it: it exports exactly the five entry points
# of an in-process COM server and imports nothing but Windows' own DLLs.
#
#   report/tests/check-exports.sh VBGuardReport.dll OBJDUMP
set -uo pipefail

dll=${1:?usage: check-exports.sh VBGuardReport.dll OBJDUMP}
objdump=${2:?usage: check-exports.sh VBGuardReport.dll OBJDUMP}
dump=$("$objdump" -p "$dll") || exit 1

failed=0
exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | grep -o 'Dll[A-Za-z]*' | sort | tr '\n' ' ')
if [ "$exports" = "DllCanUnloadNow DllGetClassObject DllInstall DllRegisterServer DllUnregisterServer " ]; then
  echo "ok: exports $exports"
else
  echo "FAILED: exports $exports"
  failed=1
fi
imports=$(grep 'DLL Name' <<<"$dump" | awk '{print $3}' | tr '[:upper:]' '[:lower:]' | sort | tr '\n' ' ')
if [ "$imports" = "advapi32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll user32.dll " ]; then
  echo "ok: imports only Windows' own DLLs: $imports"
else
  echo "FAILED: imports $imports"
  failed=1
fi
exit $failed
