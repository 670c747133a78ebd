#!/usr/bin/env bash
# Checks that every tracked C and C++ file is formatted as .clang-format says,
# with clang-format 14 (Debian 12's): other versions format some constructs
# differently. Lists the files that deviate and fails when there is any; run
# with --fix to reformat them instead.
set -euo pipefail
cd "$(dirname "$0")/.."

format=$(command -v clang-format-14 || command -v clang-format || true)
if [ -z "$format" ]; then
  echo "clang-format 14 is not installed (bash scripts/deps.sh installs it)" >&2
  exit 2
fi
if ! "$format" --version | grep -q 'version 14\.'; then
  echo "$format is not clang-format 14: $("$format" --version)" >&2
  exit 2
fi

mapfile -t files < <(git ls-files -- '*.c' '*.cc' '*.cpp' '*.h' '*.hpp')
if [ "${1:-}" = "--fix" ]; then
  "$format" -i "${files[@]}"
  exit 0
fi
deviating=()
for file in "${files[@]}"; do
  "$format" --dry-run --Werror "$file" >/dev/null 2>&1 || deviating+=("$file")
done
if [ ${#deviating[@]} -ne 0 ]; then
  printf 'not formatted: %s\n' "${deviating[@]}" >&2
  echo "run: bash scripts/check_format.sh --fix" >&2
  exit 1
fi
echo "format: ${#files[@]} files as .clang-format says"
