#!/usr/bin/env bash
# make demo: updates a sample installation for real under Wine, twice with
# success and once with a failure whose dialog is answered and photographed.
set -euo pipefail
build=$(realpath "${1:-build}")
export WINEPREFIX="$build/wineprefix-display" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
demo="$build/demo"
mkdir -p "$demo"
rm -f "$demo/failure_dialog.png"
winpath() { echo "Z:${1//\//\\}"; }
status=0
XVFB_SHOT_DIR="$demo" bash "$(dirname "$0")/with-xvfb.sh" \
  wine "$build/bin/update_demo.exe" "$(winpath "$demo/sample")" "$(winpath "$demo/failure_dialog.request")" || status=$?
if [ -f "$demo/failure_dialog.png" ]; then
  echo "Screenshot of the failure dialog: $demo/failure_dialog.png"
fi
exit $status
