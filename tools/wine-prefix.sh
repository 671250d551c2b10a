#!/usr/bin/env bash
# Creates the build's private Wine prefixes once, with a virtual desktop and a
# CJK-capable font so that the failure dialog draws its caption and text.
# Usage: wine-prefix.sh PREFIX_DIR [MORE_PREFIX_DIRS...]
# The first is made with wineboot, the others as copies of it. Afterwards
# Wine's own background processes are started in the first prefix with their
# output detached, so that they never hold a test runner's pipes open.
set -euo pipefail
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

create() {
  local prefix=$1
  export WINEPREFIX="$prefix"
  mkdir -p "$prefix"
  wineboot -i >/dev/null 2>&1 </dev/null || true
  wineserver -w
  reg() { wine reg add "$@" /f >/dev/null 2>&1 </dev/null; }
  reg 'HKCU\Software\Wine\Explorer' /v Desktop /t REG_SZ /d Default
  reg 'HKCU\Software\Wine\Explorer\Desktops' /v Default /t REG_SZ /d 640x480
  for f in Tahoma "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif" "Segoe UI" SimSun; do
    reg 'HKCU\Software\Wine\Fonts\Replacements' /v "$f" /t REG_SZ /d "WenQuanYi Micro Hei"
  done
  # No crash dialog or debugger for the death tests' breakpoint traps.
  reg 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0
  reg 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /t REG_SZ /d 1
  reg 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ /d 'false'
  wineserver -w
  touch "$prefix/.prefix-ready"
}

first=$(realpath -m "$1")
shift
[ -f "$first/.prefix-ready" ] || create "$first"
for other in "$@"; do
  other=$(realpath -m "$other")
  if [ ! -f "$other/.prefix-ready" ]; then
    rm -rf "$other"
    WINEPREFIX="$first" wineserver -w
    cp -a "$first" "$other"
  fi
done

# One long-lived wine server and Wine's background processes for the first
# prefix, started here with no pipes attached, so each test program starts fast.
export WINEPREFIX="$first"
wineserver -p60 >/dev/null 2>&1 </dev/null || true
wine cmd.exe /c exit >/dev/null 2>&1 </dev/null || true
