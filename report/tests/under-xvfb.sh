#!/bin/bash
# Runs a command on an Xvfb display of its own: under-xvfb.sh command [arguments...]
#
# Wine's window processes belong to the display of the server that started them, so the
# prefix's server is stopped before and after. Exits with 77 (skipped) without xvfb-run.
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-env.sh"
command -v xvfb-run >/dev/null || { echo "skipped: xvfb-run is not installed"; exit 77; }

stop_wineserver
trap stop_wineserver EXIT
xvfb-run -a -s "-screen 0 1000x800x24" "$@"
