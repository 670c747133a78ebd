#!/usr/bin/env bash
# Builds a static OpenSSL for mingw-w64 from Debian's own source package and
# installs it under a cache folder outside the source tree, keyed by the
# OpenSSL version and the Configure line, so that later runs on the same
# machine take it from there.
#
#   bash scripts/openssl_mingw.sh x86_64|i686
#
# Prints the installed prefix on its last line. VESKAR_OPENSSL_CACHE names the
# cache folder (default ~/.cache/veskar/openssl-mingw).
set -euo pipefail

arch=${1:?usage: openssl_mingw.sh x86_64|i686}
options=(no-shared no-pinshared no-tests no-engine no-module)
reverted=""
case "$arch" in
  x86_64) target=mingw64 ;;
  i686) target=mingw; reverted=" without pic.patch" ;;
  *) echo "openssl_mingw.sh: unknown architecture $arch" >&2; exit 2 ;;
esac
prefix_tool="$arch-w64-mingw32-"
cache=${VESKAR_OPENSSL_CACHE:-$HOME/.cache/veskar/openssl-mingw}
# shellcheck source=scripts/debian_source.sh
source "$(dirname "$0")/debian_source.sh"

# The key names everything that changes the result, this script's own
# handling of Debian's patches included.
key_of() { printf '%s %s %s%s' "$1" "$target" "${options[*]}" "$reverted" | sha256sum | cut -c1-16; }
debian_source_entry openssl
debian_source_versions openssl
debian_source_cached OpenSSL "$arch" && exit 0

work=$(mktemp -d /tmp/veskar-openssl.XXXXXX)
trap 'rm -rf "$work"' EXIT
debian_source_fetch openssl "$work"
dest="$cache/$arch-$version-$(key_of "$version")"

cd "$work/src"
# Debian's pic.patch makes the 32-bit x86 assembler call through the ELF
# GOT, which COFF cannot express; Windows code needs no such thing.
if [ "$arch" = i686 ] && [ -f debian/patches/pic.patch ]; then
  patch -s -R -p1 < debian/patches/pic.patch
fi
echo "== OpenSSL $version for $arch: $target ${options[*]} ==" >&2
./Configure "$target" --cross-compile-prefix="$prefix_tool" "${options[@]}" \
  --prefix="$dest" --libdir=lib >/dev/null
make -s -j"$(nproc)" build_libs >/dev/null 2>"$work/make.log" ||
  { tail -40 "$work/make.log" >&2; exit 1; }
rm -rf "$dest"
mkdir -p "$dest/lib" "$dest/include"
cp libcrypto.a libssl.a "$dest/lib/"
cp -r include/openssl "$dest/include/"
echo "$version" > "$dest/VERSION"
touch "$dest/.complete"
echo "$dest"
