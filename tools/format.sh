#!/usr/bin/env bash
# Formats the project's C++ sources with the repository's .clang-format.
#   tools/format.sh           rewrites every file that is not formatted
#   tools/format.sh --check   changes nothing; lists those files and fails
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files -- '*.cc' '*.h')
if [[ "${1:-}" != "--check" ]]; then
  clang-format -i --style=file "${files[@]}"
  exit 0
fi
# One run over every file: each difference is reported as "<file>:<line>:...".
mapfile -t unformatted < <(clang-format --style=file --dry-run "${files[@]}" 2>&1 |
  sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: .*clang-format-violations.*/\1/p' | sort -u)
if ((${#unformatted[@]})); then
  printf 'not formatted: %s\n' "${unformatted[@]}" >&2
  echo "format: ${#unformatted[@]} of ${#files[@]} files differ from .clang-format; run make format" >&2
  exit 1
fi
echo "format: ${#files[@]} files as .clang-format says"
