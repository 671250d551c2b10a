#!/usr/bin/env bash
# Runs a command with a private Xvfb display and stops the display afterwards.
# While it runs, a file NAME.request that appears in $XVFB_SHOT_DIR (default:
# the current folder) is answered with a screenshot NAME.png, then removed.
set -u
for n in $(seq 90 200); do
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || { display=$n; break; }
done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
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
trap 'kill $xvfb_pid $watcher_pid 2>/dev/null; wait $xvfb_pid 2>/dev/null' EXIT
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
"$@"
