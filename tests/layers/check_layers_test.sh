#!/usr/bin/env bash
# scripts/check_layers.sh against a scratch tree laid out as this one: the
# clean tree passes, and every include planted against a rule fails it,
# named by file and line, while the clean includes stay unnamed.
set -euo pipefail
check=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT

# put FILE HEADER...: FILE includes each HEADER, given as "x/y.h" or <x/y.h>.
put() {
  mkdir -p "$tree/$(dirname "$1")"
  local file=$1
  shift
  for header in "$@"; do
    case "$header" in
      \<*) echo "#include $header" ;;
      *) echo "#include \"$header\"" ;;
    esac
  done >"$tree/$file"
}

put include/veskar/export.h
put include/veskar/toolkit/cmsapi32.h '<veskar/toolkit/toolkit_abi.h>' '<stddef.h>'
put include/veskar/cstring.h '<veskar/export.h>' '<string>'
put include/veskar/records.h '<veskar/cstring.h>'
put include/veskar/services.h '<veskar/export.h>'
put include/veskar/agent.h '<veskar/cstring.h>' '<veskar/records.h>'
put include/veskar/cms_agent.h '<veskar/agent.h>' '<veskar/toolkit/cmsapi32.h>'
put include/veskar/veskar.h '<veskar/cms_agent.h>' '<veskar/services.h>'
put base/scope_guard.h '<utility>'
put platform/posix/env_posix.cpp platform/env.h '<sys/stat.h>'
put framework/messages.h '<veskar/cstring.h>' platform/env.h base/scope_guard.h
put records/request_record.cpp '<veskar/records.h>' base/scope_guard.h
put binding/toolkit_handles.cpp binding/toolkit_handles.h '<veskar/services.h>'
put agents/agent.cpp '<veskar/agent.h>' '<veskar/services.h>' framework/messages.h
put cms/cms_binding.cpp '<veskar/cms_agent.h>' binding/binder.h agents/request_admission.h
put module/library_entry.cpp '<veskar/cms_agent.h>' binding/toolkit_handles.h
put module/posix/library_entry.cpp module/library_entry.h '<veskar/version.h>'
put pki/files.h '<openssl/evp.h>'
put cmp/cmp_enroll.cpp pki/files.h cmp_enroll.h
put ca/local_ca.cpp pki/files.h ca/local_ca.h
put standins/common/entry_guard.h pki/files.h '<veskar/toolkit/cmsapi32.h>'
put standins/cmsapi32/cmsapi32.cpp standins/common/entry_guard.h cmp/cmp_enroll.h ca/local_ca.h
put standins/kmpapi32/kmpapi32.cpp standins/common/entry_guard.h kmp_session.h
put tools/veskar/main.cpp '<veskar/veskar.h>' ca/local_ca.h standins/common/entry_guard.h command.h

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

out=$(bash "$check" "$tree") || fail "the clean tree is refused: $out"

# plant FILE HEADER: FILE also includes HEADER, on a line the check must name.
planted=()
plant() {
  local file=$1 header=$2
  case "$header" in
    \<*) echo "#include $header" >>"$tree/$file" ;;
    *) echo "#include \"$header\"" >>"$tree/$file" ;;
  esac
  planted+=("$file:$(wc -l <"$tree/$file"):")
}
plant standins/common/entry_guard.h standins/kmpapi32/kmp_session.h  # up a floor
plant standins/kmpapi32/kmpapi32.cpp standins/cmsapi32/cms_session.h # across a floor
plant tools/veskar/main.cpp base/scope_guard.h                       # the library's internals
plant tools/veskar/main.cpp '<module/library_entry.h>'               # the same, by angle brackets
plant cmp/cmp_enroll.cpp ca/cmp_service.h                            # across a floor
plant agents/agent.cpp '<veskar/cms_agent.h>'                        # up, through a public header
plant records/request_record.cpp '<veskar/unnamed.h>'                # a header no folder owns

if out=$(bash "$check" "$tree"); then fail "a tree with planted includes passes"; fi
for place in "${planted[@]}"; do
  grep -qF -- "$place" <<<"$out" || fail "$place is not named in: $out"
done
[ "$(wc -l <<<"$out")" -eq "${#planted[@]}" ] || fail "clean includes are named too: $out"
echo "layers check: clean tree passes; ${#planted[@]} planted includes named"
