#!/usr/bin/env bash
# Inspects a 32-bit Windows build (BUILD_DIR, default build-win32), whose
# programs cannot run here: Veskar.dll exports the interface, each fake
# toolkit exports exactly the decorated names of its module definition
# (_CMSLogin@24 ...), and the library holds the decorated names it asks for.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-win32}
objdump=i686-w64-mingw32-objdump
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# The names in a DLL's export table, one per line, sorted.
exports() {
  "$objdump" -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort
}

library=$build/bin/Veskar.dll
[ -f "$library" ] || { echo "no $library" >&2; exit 1; }
"$objdump" -f "$library" | grep -q 'file format pei-i386' || fail "$library is not a 32-bit DLL"
library_exports=$(exports "$library")
for name in _Z20GetAvaliableServicesv _Z17Base64EncodeAllocPvmRPc _Z17Base64DecodeAllocPcmRPv _Z10Base64FreePv \
            _ZN12CQnEntCmsPMA21CreateUserCertificateEPPhRjP15CQnPMCrtUsrData \
            _ZN14CQnEntIPSecPMA13LoadFunctionsEv _ZN12CQnEntCmsPMA12m_gpCMSLoginE \
            _ZN14CQnEntIPSecPMA10m_gbLoadedE; do
  grep -qx -- "$name" <<<"$library_exports" || fail "Veskar.dll does not export $name"
done

checked=0
for def in "$build"/testing/*/*.def; do
  folder=$(dirname "$def")
  dll=$folder/$(basename "$def" .def).dll
  [ -f "$dll" ] || continue
  expected=$(sed -n 's/^  \([^ ]*\) = .*/\1/p' "$def" | sort)
  [ -n "$expected" ] || { fail "$def lists no decorated names"; continue; }
  # Fakes also export their test controls (FakeCms_...); the entry points
  # must be exactly the module definition's.
  actual=$(exports "$dll" | grep -v '^Fake' || true)
  if [ "$actual" != "$expected" ]; then
    fail "$dll exports differ from $def:"
    diff <(echo "$expected") <(echo "$actual") >&2 || true
  fi
  # Every name the fake exports is one the library looks up.
  while read -r name; do
    grep -qaF -- "$name" "$library" || fail "Veskar.dll never asks for $name"
  done <<<"$expected"
  checked=$((checked + 1))
done
[ "$checked" -gt 0 ] || fail "no fake toolkit DLLs under $build/testing"

if grep -q '_CMSLogin@24' <(exports "$build/testing/cms_full/cmsapi32.dll"); then :; else
  fail "cmsapi32.dll does not export _CMSLogin@24"
fi
if exports "$build/testing/kmp_no_login/kmpapi32.dll" | grep -q '_IKMPLogin@'; then
  fail "the kmp_no_login fake exports _IKMPLogin"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "i686: Veskar.dll exports the interface; $checked fake toolkits export their decorated names"
