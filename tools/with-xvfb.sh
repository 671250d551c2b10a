#!/usr/bin/env bash
# Runs a command with a private Xvfb display and stops the display afterwards.
# While it runs, a file NAME.request that appears in $XVFB_SHOT_DIR (default:
# the current folder) is answered with a screenshot NAME.png, then removed.
# Xvfb picks a free display itself (-displayfd), so concurrent runs never race
# for one; when it does not come up, this fails without running the command.
# Before the display stops, the Wine processes of $WINEPREFIX (when set) are
# ended, so runs that share a prefix must take turns (as the CTest resource
# lock of the display suites makes them do).
set -u
tmp=$(mktemp -d)
mkfifo "$tmp/displayfd"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/displayfd" >/dev/null 2>&1 &
xvfb_pid=$!
display=""
read -r -t 30 display <"$tmp/displayfd" || true
rm -rf "$tmp"
if [ -z "$display" ] || ! kill -0 $xvfb_pid 2>/dev/null; then
  echo "with-xvfb: Xvfb did not start" >&2
  kill $xvfb_pid 2>/dev/null
  exit 1
fi
export DISPLAY=":$display"
shot_dir=${XVFB_SHOT_DIR:-$PWD}
(
  while kill -0 $xvfb_pid 2>/dev/null; do
    for request in "$shot_dir"/*.request; do
      [ -e "$request" ] || continue
      xwd -root -silent 2>/dev/null | /usr/bin/convert xwd:- -crop 640x480+0+0 +repage "${request%.request}.png" 2>/dev/null
      rm -f "$request"
    done
    sleep 0.1
  done
) &
watcher_pid=$!
finish() {
  # Wine's background processes (the desktop window, services) outlive the
  # command; each one still connected when Xvfb goes prints "X connection to
  # :N broken". End them first, and leave no desktop bound to a dead display.
  if [ -n "${WINEPREFIX:-}" ]; then
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
  fi
  kill $xvfb_pid $watcher_pid 2>/dev/null
  wait $xvfb_pid 2>/dev/null
}
trap finish EXIT
"$@"
