#!/usr/bin/env bash
# make dist: the release build of update.exe (preset "release", folder
# build-release/) and what a client team ships with it, in dist/:
#   update.exe      optimised for size, no debug information, stripped
#   7z.exe, 7z.dll  the pinned 7-Zip console program the updater runs, and
#                   the DLL it needs beside it
#   INTEGRATION.md  how a client starts the updater (docs/integration.md)
#   SHA256SUMS      checksums of the four, for sha256sum -c
# With SIGN_CERT and SIGN_KEY (PEM certificate chain and private key),
# update.exe gets an Authenticode signature (SHA-256) from osslsigncode. The
# signature carries the signing time (SOURCE_DATE_EPOCH when set, else now);
# everything else is repeatable: two runs from the same sources give
# byte-identical files.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
out="$here/dist"
sevenzip="$here/.cache/7z.exe"
sevenzip_dll="$here/.cache/7z.dll"
if [ ! -f "$sevenzip" ] || [ ! -f "$sevenzip_dll" ]; then
  echo "dist: $sevenzip or its DLL is missing: run tools/bootstrap.sh" >&2
  exit 1
fi
if [ -n "${SIGN_CERT:-}${SIGN_KEY:-}" ] && { [ -z "${SIGN_CERT:-}" ] || [ -z "${SIGN_KEY:-}" ]; }; then
  echo "dist: signing needs both SIGN_CERT and SIGN_KEY" >&2
  exit 1
fi

cmake --preset release >/dev/null
cmake --build --preset release

rm -rf "$out"
mkdir -p "$out"
cp build-release/bin/update.exe "$out/update.exe"
cp "$sevenzip" "$out/7z.exe"
cp "$sevenzip_dll" "$out/7z.dll"
cp docs/integration.md "$out/INTEGRATION.md"

if [ -n "${SIGN_CERT:-}" ]; then
  osslsigncode sign -certs "$SIGN_CERT" -key "$SIGN_KEY" -h sha256 \
    -n "ZeltorCloudPlay Updater" ${SOURCE_DATE_EPOCH:+-time "$SOURCE_DATE_EPOCH"} \
    -in "$out/update.exe" -out "$out/update.signed.exe" >/dev/null
  mv "$out/update.signed.exe" "$out/update.exe"
  echo "dist: update.exe signed with $SIGN_CERT"
fi

(cd "$out" && sha256sum update.exe 7z.exe 7z.dll INTEGRATION.md > SHA256SUMS)
echo "dist: $out"
ls -l "$out"
