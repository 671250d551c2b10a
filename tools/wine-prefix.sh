#!/usr/bin/env bash
# Creates the build's private Wine prefix once, with a virtual desktop and a
# CJK-capable font so that the failure dialog draws its caption and text.
# Usage: wine-prefix.sh PREFIX_DIR
set -euo pipefail
prefix=$(realpath -m "$1")
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
stamp="$prefix/.prefix-ready"
if [ ! -f "$stamp" ]; then
  mkdir -p "$prefix"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w
  reg() { wine reg add "$@" /f >/dev/null 2>&1; }
  reg 'HKCU\Software\Wine\Explorer' /v Desktop /t REG_SZ /d Default
  reg 'HKCU\Software\Wine\Explorer\Desktops' /v Default /t REG_SZ /d 640x480
  for f in Tahoma "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif" "Segoe UI" SimSun; do
    reg 'HKCU\Software\Wine\Fonts\Replacements' /v "$f" /t REG_SZ /d "WenQuanYi Micro Hei"
  done
  # No crash dialog for the death tests' breakpoint traps.
  reg 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0
  reg 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /t REG_SZ /d 1
  reg 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ /d 'false'
  wineserver -w
  touch "$stamp"
fi
# Keep one wine server alive across the test programs so each starts quickly.
wineserver -p30 >/dev/null 2>&1 || true
