#!/usr/bin/env bash
# Tests tools/bootstrap.sh on machines in the states a syncing package mirror
# leaves: a copy of the script runs with stand-ins for apt-get, dpkg,
# dpkg-query, sudo, id, npm and sleep first on PATH. apt-get fails `update`
# as the mirror did and accepts or refuses `install` as each row says; every
# stand-in appends its command line to a call log, which each row compares
# whole. The pinned 7-Zip files are linked into the copy's .cache, so the npm
# step must never run.
# Usage: bootstrap_test.sh SOURCE_DIR
set -euo pipefail
src=$(realpath "$1")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failed=0

mkdir -p "$tmp/repo/tools" "$tmp/repo/.cache" "$tmp/bin"
cp "$src/tools/bootstrap.sh" "$tmp/repo/tools/"
for f in 7z.exe 7z.dll; do ln -s "$src/.cache/$f" "$tmp/repo/.cache/$f"; done

# The stand-ins; apt-get, npm and sleep append their command lines to the log.
# STUB_UPDATE_FAILS: how many apt-get updates fail (the first ones);
# STUB_INSTALL: "lists" accepts any install, "release" only one with
# -t bookworm, "never" none; STUB_PRESENT=1: every package is installed.
stub() { printf '#!/usr/bin/env bash\n%s\n' "$2" >"$tmp/bin/$1" && chmod +x "$tmp/bin/$1"; }
stub apt-get '
echo "apt-get $*" >>"$STUB_LOG"
if [ -z "${STUB_VIA_SUDO:-}" ]; then echo "E: Could not open lock file - are you root?" >&2; exit 100; fi
case "$1" in
  update)
    if [ "$(grep -c "^apt-get update" "$STUB_LOG")" -le "$STUB_UPDATE_FAILS" ]; then
      echo "E: Failed to fetch .../binary-i386/Packages.xz  File has unexpected size (31740 != 31744). Mirror sync in progress? [IP: 0.0.0.0 80]" >&2
      exit 100
    fi ;;
  install)
    if [ "${DEBIAN_FRONTEND:-}" != noninteractive ]; then echo "E: install would ask questions" >&2; exit 1; fi
    if [ "$STUB_INSTALL" = lists ] || { [ "$STUB_INSTALL" = release ] && [[ " $* " == *" -t bookworm "* ]]; }; then exit 0; fi
    echo "E: Unable to correct problems, you have held broken packages." >&2
    exit 100 ;;
esac'
stub dpkg '[ "$1" = --print-foreign-architectures ] && echo i386; exit 0'
stub dpkg-query '[ "$STUB_PRESENT" = 1 ] && printf "install ok installed" || exit 1'
# sudo resets the environment, as its default policy does.
stub sudo 'exec env -i PATH="$PATH" STUB_VIA_SUDO=1 STUB_LOG="$STUB_LOG" STUB_UPDATE_FAILS="$STUB_UPDATE_FAILS" STUB_INSTALL="$STUB_INSTALL" "$@"'
stub id 'echo 1000'
stub npm 'echo "npm $*" >>"$STUB_LOG"; exit 1'
stub sleep 'echo "sleep $*" >>"$STUB_LOG"'

# Each row: name, updates that fail, install answer, all present, expected
# exit status, expected call log (";"-separated; an install shows its first
# package only), a text the output must hold ("" for none: then there must be
# no output at all).
A=g++-mingw-w64-i686
U="apt-get update -qq"
IN="apt-get install -y -qq --no-install-recommends"
fails3="$U;sleep 7;$U;sleep 7;$U"
rows=(
  "lists-read-at-once|0|lists|0|0|$U;$IN $A|bootstrap: installing $A"
  "update-fails-once-then-reads|1|lists|0|0|$U;sleep 7;$U;$IN $A|apt-get update failed (try 1 of 3), again in 7s"
  "update-fails-every-try-install-goes-on|9|lists|0|0|$fails3;$IN $A|bootstrap: apt-get update still fails; installing with the package lists it read"
  "install-refused-release-versions-work|9|release|0|0|$fails3;$IN $A;$IN -t bookworm $A|bootstrap: install refused; trying again with the release's own versions (-t bookworm)"
  "both-installs-refused|9|never|0|1|$fails3;$IN $A;$IN -t bookworm $A|wait for the mirror and run 'make test' again"
  "everything-present|0|never|1|0||"
)
for row in "${rows[@]}"; do
  IFS='|' read -r name fails install present want_status want_log want_text <<<"$row"
  log="$tmp/$name.calls"
  : >"$log"
  status=0
  out=$(env PATH="$tmp/bin:$PATH" STUB_LOG="$log" STUB_UPDATE_FAILS="$fails" STUB_INSTALL="$install" \
    STUB_PRESENT="$present" BOOTSTRAP_RETRY_PAUSE=7 bash "$tmp/repo/tools/bootstrap.sh" 2>&1) || status=$?
  got_log=$(sed "s/ $A .*/ $A/" "$log" | paste -sd';')
  problems=()
  [ "$status" = "$want_status" ] || problems+=("exit status $status, expected $want_status")
  [ "$got_log" = "$want_log" ] || problems+=("calls: $got_log" "expected: $want_log")
  if [ -z "$want_text" ]; then
    [ -z "$out" ] || problems+=("output where none was expected")
  elif ! grep -qF -- "$want_text" <<<"$out"; then
    problems+=("output lacks: $want_text")
  fi
  if ((${#problems[@]})); then
    failed=1
    printf 'bootstrap_test: FAILED %s\n' "$name"
    printf '  %s\n' "${problems[@]}"
    sed 's/^/  | /' <<<"$out"
  else
    echo "bootstrap_test: ok $name"
  fi
done
exit $failed
