#!/usr/bin/env bash
# Checks that the library's folders include only downwards: a file may
# include from its own folder or from a folder on a lower floor, never from a
# higher one. Prints each offending include and fails when there is any.
set -euo pipefail
cd "$(dirname "$0")/.."

# Floor of each library folder, lowest first, in the order of the README's
# layout table; folders on one floor do not include each other.
declare -A floor=(
  [base]=0 [platform]=1 [framework]=2 [codec]=3 [records]=4 [files]=5
  [agents]=6 [cms]=7 [ipsec]=7 [module]=8
)

status=0
for folder in "${!floor[@]}"; do
  [ -d "$folder" ] || continue
  while IFS=: read -r file line text; do
    target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^/"]+)\/.*/\1/' <<<"$text")
    [ "$target" = "$folder" ] && continue
    [ -n "${floor[$target]+set}" ] || continue
    if [ "${floor[$target]}" -ge "${floor[$folder]}" ]; then
      echo "$file:$line: $folder (floor ${floor[$folder]}) includes $target (floor ${floor[$target]})"
      status=1
    fi
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^/"]+/' "$folder" || true)
done
if [ "$status" -eq 0 ]; then echo "layers: every include points down"; fi
exit "$status"
