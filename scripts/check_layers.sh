#!/usr/bin/env bash
# Checks that every component of the tree includes only downwards: a file
# may include from its own folder or from a folder on a lower floor, never
# from one on its own floor or higher. A public header <veskar/X.h> counts as
# the folder that defines X. The stand-ins and the command (pki/ and above)
# reach the library only through its public headers, never its internals.
# Prints each offending include and fails when there is any.
#
# Usage: check_layers.sh [ROOT]   (ROOT: the tree to check, default this one)
set -euo pipefail
root=${1:-"$(dirname "$0")/.."}
cd "$root"

# Floor of each folder, lowest first, in the order of the README's layout
# table. Folders on one floor do not include each other.
declare -A floor=(
  [base]=0 [platform]=1 [framework]=2 [codec]=3 [records]=4 [files]=5
  [binding]=6 [agents]=7 [cms]=8 [ipsec]=8 [module]=9
  [pki]=10 [cmp]=11 [ca]=11
  [standins/common]=12 [standins/cmsapi32]=13 [standins/kmpapi32]=13
  [tools/veskar]=14
)
# The first floor above the library.
readonly kStandinFloor=10

# The folder that defines what each public header declares. The umbrella
# header gathers them all, so it sits at the library's top; the toolkit ABI
# headers and the generated ones depend on nothing.
declare -A public=(
  [export.h]=base [message_ids.h]=base [service_bits.h]=base [version.h]=base
  [cstring.h]=framework [file_exception.h]=framework [base64.h]=codec
  [records.h]=records [session.h]=records [services.h]=binding
  [agent.h]=agents [cms_agent.h]=cms [ipsec_agent.h]=ipsec [veskar.h]=module
)

# The folder of a path inside the tree ("module/posix/x.cpp" -> module,
# "standins/common/x.h" -> standins/common), or "" outside every folder.
folder_of() {
  local path=$1
  case "$path" in
    include/veskar/toolkit/*) echo base; return ;;
    include/veskar/*) echo "${public[${path#include/veskar/}]-}"; return ;;
  esac
  local first=${path%%/*} rest=${path#*/}
  [ -n "$first" ] || return 0
  local second=${rest%%/*}
  if [ "$rest" != "$path" ] && [ -n "${floor[$first/$second]+set}" ]; then
    echo "$first/$second"
  elif [ -n "${floor[$first]+set}" ]; then
    echo "$first"
  fi
}

status=0
report() {
  echo "$1"
  status=1
}

sources=()
for folder in "${!floor[@]}"; do
  [ -d "$folder" ] && sources+=("$folder")
done
[ -d include/veskar ] && sources+=(include/veskar)
for header in include/veskar/*.h; do
  [ -e "$header" ] || continue
  [ -n "$(folder_of "$header")" ] ||
    report "$header: a public header no folder is named for (add it to check_layers.sh)"
done

# Every include of a header by a path: "folder/..." or <veskar/...>.
while IFS=: read -r file line text; do
  own=$(folder_of "$file")
  [ -n "$own" ] || continue
  target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]([^>"]*)[>"].*/\1/' <<<"$text")
  public_header=no
  shown="\"$target\""
  case "$target" in
    veskar/*)
      public_header=yes
      shown="<$target>"
      to=$(folder_of "include/$target")
      if [ -z "$to" ]; then
        report "$file:$line: includes <$target>, a public header no folder is named for"
        continue
      fi
      ;;
    */*) to=$(folder_of "$target") ;;
    *) continue ;;  # beside the including file
  esac
  if [ -z "$to" ] || [ "$to" = "$own" ]; then continue; fi
  if [ "${floor[$own]}" -ge "$kStandinFloor" ] && [ "${floor[$to]}" -lt "$kStandinFloor" ] &&
    [ "$public_header" = no ]; then
    report "$file:$line: $own includes $shown, the library's own (only <veskar/...> headers are for it)"
  elif [ "${floor[$to]}" -ge "${floor[$own]}" ]; then
    report "$file:$line: $own (floor ${floor[$own]}) includes $shown ($to, floor ${floor[$to]})"
  fi
done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"][^>"]*/' "${sources[@]}" |
  sort -t: -k1,1 -k2,2n || true)

if [ "$status" -eq 0 ]; then echo "layers: every include points down"; fi
exit "$status"
