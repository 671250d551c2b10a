#!/usr/bin/env bash
# Installs everything the build and the tests need on a Debian 12 machine.
# Idempotent: does nothing when every package is present.
set -euo pipefail

packages=(g++-mingw-w64-i686 wine wine32:i386 wine64 googletest cmake ninja-build
          xvfb xauth x11-apps imagemagick fonts-wqy-microhei clang-format gnuplot-nox bc
          osslsigncode openssl python3)

sudo=""
if [ "$(id -u)" != 0 ]; then sudo="sudo"; fi

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
  need_update=1
fi
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
# npm may come with a Node.js installed outside Debian's packages; only add Debian's when absent.
command -v npm >/dev/null 2>&1 || missing+=(npm)
if [ ${#missing[@]} -gt 0 ] || [ -n "${need_update:-}" ]; then
  echo "bootstrap: installing ${missing[*]}"
  $sudo apt-get update -qq
  if [ ${#missing[@]} -gt 0 ]; then
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
fi

# The unpacker: 7-Zip's console program shipped in an npm package, checked by hash.
here=$(cd "$(dirname "$0")/.." && pwd)
cache="$here/.cache"
want=31fd52f8996986623cf52c3b4d0f7ac74a9dec63fc16c902cef673eed550c435
sevenzip="$cache/7za.exe"
if [ ! -f "$sevenzip" ] || [ "$(sha256sum "$sevenzip" | cut -d' ' -f1)" != "$want" ]; then
  mkdir -p "$cache/npm"
  (cd "$cache/npm" && rm -rf package ./*.tgz && npm pack --silent 7zip-bin@5.2.0 >/dev/null && tar xzf 7zip-bin-5.2.0.tgz package/win/ia32/7za.exe)
  got=$(sha256sum "$cache/npm/package/win/ia32/7za.exe" | cut -d' ' -f1)
  if [ "$got" != "$want" ]; then
    echo "bootstrap: 7za.exe has SHA-256 $got, expected $want" >&2
    exit 1
  fi
  cp "$cache/npm/package/win/ia32/7za.exe" "$sevenzip"
  rm -rf "$cache/npm"
fi
