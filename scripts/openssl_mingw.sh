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
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# Debian's source: a deb-src entry beside the binary suites already
# configured, so that apt checks the source against the signed index.
src_list=/etc/apt/sources.list.d/veskar-deb-src.sources
if ! apt-get source --print-uris openssl >/dev/null 2>&1; then
  if [ ! -f "$src_list" ]; then
    $sudo tee "$src_list" >/dev/null <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  fi
  $sudo apt-get update -qq
fi

# The versions apt offers, newest first, ending with the main suite's: the
# newest security update's .dsc has been seen missing from the mirror.
mapfile -t versions < <(apt-cache showsrc openssl 2>/dev/null |
                          sed -n 's/^Version: //p' | sort -rV | uniq)
[ ${#versions[@]} -gt 0 ] || { echo "openssl_mingw.sh: apt knows no openssl source" >&2; exit 1; }

# The key names everything that changes the result, this script's own
# handling of Debian's patches included.
key_of() { printf '%s %s %s%s' "$1" "$target" "${options[*]}" "$reverted" | sha256sum | cut -c1-16; }
for version in "${versions[@]}"; do
  dest="$cache/$arch-$version-$(key_of "$version")"
  if [ -f "$dest/.complete" ]; then
    echo "OpenSSL $version for $arch from the cache" >&2
    echo "$dest"
    exit 0
  fi
done

work=$(mktemp -d /tmp/veskar-openssl.XXXXXX)
trap 'rm -rf "$work"' EXIT
version=""
for candidate in "${versions[@]}"; do
  if (cd "$work" && apt-get source --download-only -qq "openssl=$candidate" >/dev/null 2>&1); then
    version=$candidate
    break
  fi
  echo "openssl_mingw.sh: the source of openssl $candidate did not download; trying an older one" >&2
  rm -f "$work"/*
done
[ -n "$version" ] || { echo "openssl_mingw.sh: no openssl source could be downloaded" >&2; exit 1; }
dest="$cache/$arch-$version-$(key_of "$version")"

# Unpack with dpkg-source when it is there (it applies Debian's patches);
# otherwise the original tarball, which apt has already checked.
dsc=$(ls "$work"/openssl_*.dsc)
if command -v dpkg-source >/dev/null 2>&1; then
  (cd "$work" && dpkg-source --no-check -x "$dsc" src >/dev/null)
else
  mkdir "$work/src"
  tar -xf "$work"/openssl_*.orig.tar.* -C "$work/src" --strip-components=1
fi

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
