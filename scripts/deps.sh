#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need, when
# any is missing. Needs root (or sudo) only when something must be installed.
set -euo pipefail

packages=(cmake ninja-build g++ clang clang-format libclang-rt-dev pkg-config
          libgtest-dev libgmock-dev libbenchmark-dev libssl-dev openssl
          libcpp-httplib-dev libmicrohttpd-dev libsqlite3-dev)
# `deps.sh windows`: the cross compilers and Wine of the Windows stage
# (64-bit Wine only: 32-bit programs are built and inspected, never run).
if [ "${1:-}" = "windows" ]; then
  packages+=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64
             binutils-mingw-w64-i686 wine64 tcl)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "installing: ${missing[*]}" >&2
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
