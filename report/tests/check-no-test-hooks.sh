#!/bin/bash
# Fails when a VBGuardReport.dll built for shipping still carries the test hooks: the names of
# the environment variables that script its answers and log its calls, as UTF-16 (strings -el)
# or as single-byte text (strings).
#
#   report/tests/check-no-test-hooks.sh build/win32/report/VBGuardReport.dll
set -uo pipefail

dll=${1:?usage: check-no-test-hooks.sh VBGuardReport.dll}
[ -f "$dll" ] || { echo "FAILED: $dll not found"; exit 1; }

found=0
for name in VBGUARD_REPORT_ANSWERS VBGUARD_REPORT_LOG; do
  for encoding in "-el" ""; do
    # shellcheck disable=SC2086  # an empty encoding is no argument at all
    if strings -a $encoding "$dll" | grep -q "$name"; then
      echo "FAILED: $dll contains the test hook $name (strings ${encoding:-(8-bit)})"
      found=1
    fi
  done
done
[ $found -eq 0 ] && echo "ok: $dll has no test hooks"
exit $found
