#!/usr/bin/env bash
# Tests `make dist`. Two copies of the working tree in two different folders
# each run it; their files must be byte-identical (so no time stamp and no
# build path reaches them) and pass their own SHA256SUMS. The image must be a
# stripped GUI program with no link time, the GetHandleVerifier export, the
# thread-exit TLS callback and its manifest and version resources. Signed with
# a throwaway self-signed certificate, it must verify against that certificate
# and not against another.
# Usage: dist_test.sh SOURCE_DIR TEST_BUILD_UPDATE_EXE
set -euo pipefail
src=$(realpath "$1")
test_image=$(realpath "$2")
objdump=i686-w64-mingw32-objdump
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() {
  echo "dist_test: FAILED: $*" >&2
  exit 1
}

# The working tree as git sees it (committed or not, ignored files left out),
# and the pinned 7-Zip, copied to $1.
copy_tree() {
  mkdir -p "$1"
  (cd "$src" && { git ls-files -z --cached --others --exclude-standard; printf '.cache/7z.exe\0.cache/7z.dll\0'; } |
    while IFS= read -r -d '' f; do [ -f "$f" ] && printf '%s\0' "$f"; done |
    tar cf - --null -T -) | tar xf - -C "$1"
}

make_dist() {
  local tree=$1
  shift
  make -C "$tree" dist "$@" >"$tree.log" 2>&1 || { tail -40 "$tree.log"; fail "make dist in $tree"; }
}

# N 32-bit little-endian words of an image at virtual address ADDRESS, in hex.
words() {
  local image=$1 address=$2 count=$3
  "$objdump" -s --start-address="$address" --stop-address=$((address + 4 * count)) "$image" |
    awk -v n="$count" '/^ [0-9a-f]+ / { for (i = 2; i <= 5 && i <= NF; i++)
      if (k < n && length($i) == 8 && $i ~ /^[0-9a-f]+$/) { print $i; k++ } }' |
    sed -E 's/(..)(..)(..)(..)/\4\3\2\1/'
}

# The TLS callbacks of an image, one address per line, read through its TLS
# directory (AddressOfCallBacks is its fourth word; the list ends with 0).
tls_callbacks() {
  local image=$1 base tls list
  read -r base tls < <("$objdump" -p "$image" |
    awk '/^ImageBase/ { b = $2 } /^Entry 9 / { t = $3 } END { print b, t }')
  [ "$tls" != 00000000 ] || return 0
  list=$(words "$image" $((0x$base + 0x$tls + 12)) 1)
  words "$image" $((0x$list)) 16 | awk '/^0+$/ { end = 1 } !end { print }'
}

# A 32-bit little-endian field of the file's COFF header (after "PE\0\0").
coff_field() {
  local image=$1 offset=$2 pe
  pe=$(od -An -tu4 -j 60 -N4 "$image" | tr -d ' ')
  od -An -tu4 -j $((pe + 4 + offset)) -N4 "$image" | tr -d ' '
}

one="$tmp/one/src"
two="$tmp/second/a/longer/path/src"
copy_tree "$one"
copy_tree "$two"
make_dist "$one"
make_dist "$two"

for f in update.exe 7z.exe 7z.dll INTEGRATION.md SHA256SUMS; do
  [ -f "$one/dist/$f" ] || fail "dist/$f is missing"
  cmp "$one/dist/$f" "$two/dist/$f" || fail "dist/$f differs between two builds"
done
(cd "$one/dist" && sha256sum -c --quiet SHA256SUMS) || fail "sha256sum -c SHA256SUMS"
image="$one/dist/update.exe"
if grep -a -q -F -e "$tmp" -e "$src" "$image"; then
  fail "a build or source path is in the image"
fi

# The image: link time 0, no symbol table, no debug data, GUI subsystem, the
# export, the resources, and as many TLS callbacks as the test build, whose
# symbols show that one of them is the thread-exit callback.
header=$("$objdump" -p "$image")
[ "$(coff_field "$image" 4)" = 0 ] || fail "link time stamp is set"
[ "$(coff_field "$image" 8)" = 0 ] && [ "$(coff_field "$image" 12)" = 0 ] || fail "not stripped"
! "$objdump" -h "$image" | grep -q '\.debug' || fail "debug sections in the image"
grep -q '^Entry 6 00000000 00000000 Debug Directory' <<<"$header" || fail "debug directory present"
grep -q '^Subsystem.*(Windows GUI)' <<<"$header" || fail "not a GUI-subsystem image"
grep -q '\] GetHandleVerifier$' <<<"$header" || fail "GetHandleVerifier is not exported"
grep -q 'Entry: ID: 0x000010,' <<<"$header" || fail "no version resource"
grep -q 'Entry: ID: 0x000018,' <<<"$header" || fail "no manifest resource"
test_callbacks=$(tls_callbacks "$test_image")
ours=$(i686-w64-mingw32-nm "$test_image" | awk '/OnThreadExitCallback/ && !n { print $1; n = 1 }')
[ -n "$ours" ] && grep -qix "$ours" <<<"$test_callbacks" ||
  fail "the test build's TLS callbacks ($test_callbacks) lack the thread-exit callback ($ours)"
[ "$(tls_callbacks "$image" | wc -l)" = "$(wc -l <<<"$test_callbacks")" ] ||
  fail "the image has $(tls_callbacks "$image" | wc -l) TLS callbacks, the test build $(wc -l <<<"$test_callbacks")"
echo "dist_test: update.exe is $(stat -c %s "$image") bytes, identical from two folders"
grep -A12 'The .rsrc Resource Directory section' <<<"$header"

# Signing with a throwaway certificate valid for code signing.
for name in signer other; do
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=ZeltorCloudPlay test $name" \
    -addext extendedKeyUsage=codeSigning \
    -keyout "$tmp/$name.key" -out "$tmp/$name.pem" 2>/dev/null || fail "openssl req"
done
unsigned=$(sha256sum <"$image")
make_dist "$one" SIGN_CERT="$tmp/signer.pem" SIGN_KEY="$tmp/signer.key"
[ "$(sha256sum <"$image")" != "$unsigned" ] || fail "make dist with SIGN_CERT did not sign"
(cd "$one/dist" && sha256sum -c --quiet SHA256SUMS) || fail "sha256sum -c SHA256SUMS after signing"
osslsigncode verify -CAfile "$tmp/signer.pem" -in "$image" >"$tmp/verify.log" 2>&1 ||
  { cat "$tmp/verify.log"; fail "the signature does not verify against its certificate"; }
if osslsigncode verify -CAfile "$tmp/other.pem" -in "$image" >"$tmp/verify-other.log" 2>&1; then
  fail "the signature verifies against an unrelated certificate"
fi
echo "dist_test: signed update.exe verifies against its certificate only"
