#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need, when
# any is missing. Needs root (or sudo) only when something must be installed.
set -euo pipefail

packages=(cmake ninja-build g++ clang clang-format libclang-rt-dev pkg-config
          libgtest-dev libgmock-dev libbenchmark-dev libssl-dev openssl
          libcpp-httplib-dev libmicrohttpd-dev libsqlite3-dev libsimde-dev)
# `deps.sh windows`: what the Windows stage adds: the cross compilers, Wine
# for 64-bit and (from the i386 architecture) 32-bit programs, Debian's
# source tools for building OpenSSL, and stunnel as the TLS front the hosts
# are tested through.
if [ "${1:-}" = "windows" ]; then
  packages+=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64
             binutils-mingw-w64-i686 wine64 wine32:i386 dpkg-dev stunnel4 tcl)
fi

# `deps.sh debian`: what the Debian packages' stage adds: Debian's packaging
# tools and checker, debootstrap for the fresh system they are installed in,
# man to render the manual page, and systemd for systemd-analyze.
if [ "${1:-}" = "debian" ]; then
  packages+=(debhelper dpkg-dev lintian debootstrap man-db systemd)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if [[ " ${missing[*]}" == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
echo "installing: ${missing[*]}" >&2
bash "$(dirname "$0")/apt_update.sh"
install() {
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$@" \
    "${missing[@]}" >/dev/null
}
install && exit 0
[[ " ${missing[*]}" == *:i386* ]] || exit 1
# A 32-bit library must have exactly the version of its 64-bit twin. When the
# security suite's i386 list could not be fetched (a mirror caught mid-sync)
# the twins' candidates differ and apt finds no solution; taking both from the
# main suite for this install makes them agree again.
echo "retrying with the security suite's packages set aside for this install" >&2
preferences=$(mktemp)
trap 'rm -f "$preferences"' EXIT
printf 'Package: *\nPin: release l=Debian-Security\nPin-Priority: 100\n' >"$preferences"
install -o Dir::Etc::Preferences="$preferences"
