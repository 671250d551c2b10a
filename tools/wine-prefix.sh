#!/usr/bin/env bash
# Creates the build's private Wine prefixes once, with a virtual desktop and a
# CJK-capable font so that the failure dialog draws its caption and text.
# Usage: wine-prefix.sh PREFIX_DIR [MORE_PREFIX_DIRS...]
# The first is made with wineboot, the others as copies of it. A prefix counts
# as made only when it holds .prefix-ready, written after wineboot and every
# registry setting succeeded; a prefix without it is removed and made again,
# and a failed creation removes what it made and exits non-zero with the
# failing step's output. Afterwards Wine's own background processes are
# started in the first prefix with their output detached, so that they never
# hold a test runner's pipes open.
set -euo pipefail
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# Wine's programs write to a file rather than a pipe: the background processes
# that wineboot starts outlive it and would keep a pipe open.
log=$(mktemp)
trap 'rm -f "$log"' EXIT

# Runs one step of the creation of $WINEPREFIX; on failure removes the prefix,
# shows what the step printed and exits.
step() {
  if ! "$@" >"$log" 2>&1 </dev/null; then
    echo "wine-prefix: '$*' failed in $WINEPREFIX:" >&2
    cat "$log" >&2
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
    exit 1
  fi
}

reg() { step wine reg add "$@" /f; }

create() {
  export WINEPREFIX="$1"
  # What an earlier, unfinished creation left behind is not to be trusted.
  WINEPREFIX="$1" wineserver -k >/dev/null 2>&1 || true
  rm -rf "$1"
  mkdir -p "$1"
  step wineboot -i
  step wineserver -w
  reg 'HKCU\Software\Wine\Explorer' /v Desktop /t REG_SZ /d Default
  reg 'HKCU\Software\Wine\Explorer\Desktops' /v Default /t REG_SZ /d 640x480
  for f in Tahoma "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif" "Segoe UI" SimSun; do
    reg 'HKCU\Software\Wine\Fonts\Replacements' /v "$f" /t REG_SZ /d "WenQuanYi Micro Hei"
  done
  # No crash dialog or debugger for the death tests' breakpoint traps.
  reg 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0
  reg 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /t REG_SZ /d 1
  reg 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ /d 'false'
  # The registry reaches its files when the server ends.
  step wineserver -w
  touch "$1/.prefix-ready"
}

first=$(realpath -m "$1")
shift
[ -f "$first/.prefix-ready" ] || create "$first"
for other in "$@"; do
  other=$(realpath -m "$other")
  if [ ! -f "$other/.prefix-ready" ]; then
    # Copied under a temporary name and renamed into place, so that an
    # interrupted copy never stands under the prefix's name with the marker.
    WINEPREFIX="$other" wineserver -k >/dev/null 2>&1 || true
    rm -rf "$other" "$other.partial"
    WINEPREFIX="$first" wineserver -w
    cp -a "$first" "$other.partial"
    mv "$other.partial" "$other"
  fi
done

# One long-lived wine server and Wine's background processes for the first
# prefix, started here with no pipes attached, so each test program starts
# fast. Only a speed-up: a test program starts them itself when they are not
# running, so a failure here is not one of the prefix.
export WINEPREFIX="$first"
wineserver -p60 >/dev/null 2>&1 </dev/null || true
wine cmd.exe /c exit >/dev/null 2>&1 </dev/null || true
