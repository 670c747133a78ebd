#!/usr/bin/env bash
# Inspects the DLLs of a Windows build (BUILD_DIR, default build-win32) with
# objdump: Veskar.dll exports the interface; each toolkit DLL built with
# OpenSSL exports exactly the entry points its ABI header lists, and nothing
# else (none of OpenSSL), under the names the library looks up: decorated
# (_CMSLogin@24) on i686, plain (CMSLogin) on x86_64; each fake toolkit
# exports exactly the names of its module definition besides its test
# controls; and the library holds every name it asks for.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-win32}
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

library=$build/bin/Veskar.dll
[ -f "$library" ] || { echo "no $library" >&2; exit 1; }
if x86_64-w64-mingw32-objdump -f "$library" | grep -q 'file format pei-x86-64'; then
  arch=x86_64
elif i686-w64-mingw32-objdump -f "$library" | grep -q 'file format pei-i386'; then
  arch=i686
else
  echo "$library is neither a 64-bit nor a 32-bit Windows DLL" >&2
  exit 1
fi
objdump=$arch-w64-mingw32-objdump

# The names in a DLL's export table, one per line, sorted.
exports() {
  "$objdump" -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort
}
# The names a module definition exports, sorted.
defined() { sed -n '/^EXPORTS/,$ s/^  \([^ ]*\).*/\1/p' "$1" | sort; }
# The exported names of a toolkit's entry points, from its ABI header's
# X(type, name, argument bytes, ...) rows, sorted.
entry_points() {
  tr '\n\\' '  ' <"include/veskar/toolkit/$1.h" |
    grep -oE 'X\([^,()]+,[[:space:]]*[A-Za-z0-9_]+,[[:space:]]*[0-9]+,' |
    sed -E 's/^X\([^,]+,[[:space:]]*([A-Za-z0-9_]+),[[:space:]]*([0-9]+),$/\1 \2/' |
    while read -r name bytes; do
      if [ "$arch" = i686 ]; then echo "_$name@$bytes"; else echo "$name"; fi
    done | sort
}
# Every name is one the library looks up.
asked_for() {
  while read -r name; do
    grep -qaF -- "$name" "$library" || fail "Veskar.dll never asks for $name (exported by $1)"
  done
}

library_exports=$(exports "$library")
for name in _Z20GetAvaliableServicesv _Z17Base64EncodeAllocPvmRPc _Z17Base64DecodeAllocPcmRPv \
            _Z10Base64FreePv _ZN12CQnEntCmsPMA21CreateUserCertificateEPPhRjP15CQnPMCrtUsrData \
            _ZN14CQnEntIPSecPMA13LoadFunctionsEv _ZN12CQnEntCmsPMA12m_gpCMSLoginE \
            _ZN14CQnEntIPSecPMA10m_gbLoadedE; do
  grep -qx -- "$name" <<<"$library_exports" || fail "Veskar.dll does not export $name"
done

# The toolkits built with OpenSSL.
toolkits=0
for toolkit in cmsapi32 kmpapi32; do
  dll=$build/toolkits/lib/$toolkit/$toolkit.dll
  [ -f "$dll" ] || continue
  expected=$(entry_points "$toolkit")
  actual=$(exports "$dll")
  if [ "$actual" != "$expected" ]; then
    fail "$dll does not export exactly the entry points of $toolkit.h:"
    diff <(echo "$expected") <(echo "$actual") >&2 || true
  fi
  asked_for "$dll" <<<"$expected"
  toolkits=$((toolkits + 1))
done

# The fakes the suite loads also export their test controls (FakeCms_...,
# NullCms_...); the entry points must be exactly the module definition's.
fakes=0
for def in "$build"/testing/*/*.def; do
  dll=$(dirname "$def")/$(basename "$def" .def).dll
  [ -f "$dll" ] || continue
  expected=$(defined "$def")
  [ -n "$expected" ] || { fail "$def lists no names"; continue; }
  actual=$(exports "$dll" | grep -vE '^(Fake|Null)[A-Za-z]*_' || true)
  if [ "$actual" != "$expected" ]; then
    fail "$dll exports differ from $def:"
    diff <(echo "$expected") <(echo "$actual") >&2 || true
  fi
  asked_for "$dll" <<<"$expected"
  fakes=$((fakes + 1))
done
[ "$fakes" -gt 0 ] || fail "no fake toolkit DLLs under $build/testing"
login=_CMSLogin@24 ikmp_login=_IKMPLogin@
[ "$arch" = i686 ] || login=CMSLogin ikmp_login=IKMPLogin
exports "$build/testing/cms_full/cmsapi32.dll" | grep -qx -- "$login" ||
  fail "the cms_full fake does not export $login"
if exports "$build/testing/kmp_no_login/kmpapi32.dll" | grep -q -- "^$ikmp_login"; then
  fail "the kmp_no_login fake exports $ikmp_login"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "$arch: Veskar.dll exports the interface; $toolkits toolkits and $fakes fakes export" \
  "exactly their entry points"
