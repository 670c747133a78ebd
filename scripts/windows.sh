#!/usr/bin/env bash
# The Windows stage, for x86_64 (build-win64/) and i686 (build-win32/): a
# static OpenSSL and SQLite for mingw-w64 (built once, then cached),
# Veskar.dll with the toolkits cmsapi32.dll and kmpapi32.dll and veskar.exe
# cross-built with them, the exports of every DLL checked with objdump, the test suite (fake
# toolkits) under Wine (wine64, and 32-bit Wine in a prefix of its own), the
# package made with cpack (build-winXX/Veskar-VERSION-winXX.zip), and the
# hosts of tests/winhost run from the unpacked package against CAs served
# natively here (scripts/windows_hosts.sh).
#
#   bash scripts/windows.sh [x86_64|i686 ...]   (default: both)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh windows
source scripts/wine_env.sh

jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))
arches=("$@")
[ ${#arches[@]} -ne 0 ] || arches=(x86_64 i686)
failed=()
trap wine_prefix_end EXIT

# The CAs the hosts enroll at run natively: the Linux command, as
# scripts/test.sh and scripts/demo.sh build it.
echo "== Linux: the veskar command =="
[ -f build/CMakeCache.txt ] ||
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVESKAR_WERROR="${VESKAR_WERROR:-OFF}" >/dev/null
cmake --build build -j"$jobs" --target veskar_cli >/dev/null

for arch in "${arches[@]}"; do
  case "$arch" in
    x86_64) build=build-win64 ;;
    i686) build=build-win32 ;;
    *) echo "windows.sh: unknown architecture $arch" >&2; exit 2 ;;
  esac
  started=$SECONDS

  echo "== Windows $arch: OpenSSL and SQLite =="
  openssl_root=$(bash scripts/openssl_mingw.sh "$arch" | tail -1)
  sqlite_root=$(bash scripts/sqlite_mingw.sh "$arch" | tail -1)

  echo "== Windows $arch: build ($build) =="
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="cmake/toolchains/$arch-w64-mingw32.cmake" \
    -DVESKAR_OPENSSL_ROOT="$openssl_root" -DVESKAR_SQLITE_ROOT="$sqlite_root" \
    -DVESKAR_WERROR="${VESKAR_WERROR:-OFF}" >/dev/null
  cmake --build "$build" -j"$jobs"

  echo "== Windows $arch: exports =="
  bash scripts/check_win32_exports.sh "$build"

  echo "== Windows $arch: the suite under Wine =="
  wine_prefix_begin "$arch"
  # Wine has been seen, rarely, to fail a process start with no output
  # while CTest lists a program's tests. A real failure fails the second
  # run too.
  if ! ctest --test-dir "$build" --output-on-failure -j"$jobs"; then
    echo "== Windows $arch: the suite failed under Wine; running it once more =="
    ctest --test-dir "$build" --output-on-failure -j"$jobs"
  fi

  echo "== Windows $arch: the package =="
  rm -f "$build"/Veskar-*-win*.zip
  (cd "$build" && cpack -G ZIP >/dev/null)
  ls -l "$build"/Veskar-*-win*.zip

  echo "== Windows $arch: hosts of the unpacked package under Wine =="
  # Every architecture's hosts run before the stage fails for any.
  bash scripts/windows_hosts.sh "$arch" "$build" || failed+=("$arch")
  wine_prefix_end
  echo "== Windows $arch: done in $((SECONDS - started)) s =="
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "== Windows: the hosts failed on ${failed[*]} ==" >&2
  exit 1
fi
