#!/usr/bin/env bash
# Checks that every C++ source and header of the repository follows .clang-format. Prints the
# places that differ and exits non-zero when any file would change; changes nothing itself.
#   scripts/check-format.sh          check every tracked .cpp and .h
#   scripts/check-format.sh FILE...  check only the given files
set -euo pipefail
cd "$(dirname "$0")/.."

CLANG_FORMAT="${CLANG_FORMAT:-clang-format}"
if ! command -v "$CLANG_FORMAT" >/dev/null 2>&1; then
  echo "check-format: $CLANG_FORMAT not found (scripts/setup.sh installs it)" >&2
  exit 2
fi

files=()
if [ $# -gt 0 ]; then
  files=("$@")
else
  # Tracked files only, so build trees and scratch files are never checked.
  while IFS= read -r -d '' f; do files+=("$f"); done < <(git ls-files -z -- '*.cpp' '*.h')
fi
if [ ${#files[@]} -eq 0 ]; then
  echo "check-format: no files to check" >&2
  exit 2
fi

failed=0
for f in "${files[@]}"; do
  if ! "$CLANG_FORMAT" --style=file --dry-run -Werror "$f" >/dev/null 2>&1; then
    echo "check-format: $f does not follow .clang-format"
    failed=$((failed + 1))
  fi
done
if [ "$failed" -ne 0 ]; then
  echo "check-format: $failed of ${#files[@]} files need clang-format -i" >&2
  exit 1
fi
echo "check-format: all ${#files[@]} files follow .clang-format"
