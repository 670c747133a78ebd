#!/usr/bin/env bash
# Builds a static SQLite for mingw-w64 from Debian's own source package and
# installs it under a cache folder outside the source tree, keyed by the
# SQLite version and the compile line, so that later runs on the same
# machine take it from there. The source package has no single-file
# amalgamation; `make sqlite3.c` (native, with tclsh) makes it, and only that
# one file is compiled with the cross compiler.
#
#   bash scripts/sqlite_mingw.sh x86_64|i686
#
# Prints the installed prefix on its last line (pass it to CMake as
# -DVESKAR_SQLITE_ROOT=...). VESKAR_SQLITE_CACHE names the cache folder
# (default ~/.cache/veskar/sqlite-mingw).
set -euo pipefail

arch=${1:?usage: sqlite_mingw.sh x86_64|i686}
case "$arch" in
  x86_64 | i686) ;;
  *) echo "sqlite_mingw.sh: unknown architecture $arch" >&2; exit 2 ;;
esac
compiler="$arch-w64-mingw32-gcc"
archiver="$arch-w64-mingw32-ar"
# Threads on, loadable extensions off (the CA loads none), no Tcl bindings.
flags=(-O2 -DSQLITE_THREADSAFE=1 -DSQLITE_OMIT_LOAD_EXTENSION=1 -DSQLITE_DEFAULT_WAL_SYNCHRONOUS=2)
cache=${VESKAR_SQLITE_CACHE:-$HOME/.cache/veskar/sqlite-mingw}
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
command -v tclsh >/dev/null 2>&1 ||
  { echo "sqlite_mingw.sh: needs tclsh (Debian package tcl) to make sqlite3.c" >&2; exit 1; }

# Debian's source, through the deb-src entry scripts/openssl_mingw.sh adds.
if ! apt-get source --print-uris sqlite3 >/dev/null 2>&1; then
  echo "sqlite_mingw.sh: apt has no deb-src entry; run scripts/openssl_mingw.sh first" >&2
  exit 1
fi
mapfile -t versions < <(apt-cache showsrc sqlite3 2>/dev/null |
                          sed -n 's/^Version: //p' | sort -rV | uniq)
[ ${#versions[@]} -gt 0 ] || { echo "sqlite_mingw.sh: apt knows no sqlite3 source" >&2; exit 1; }

key_of() { printf '%s %s %s' "$1" "$compiler" "${flags[*]}" | sha256sum | cut -c1-16; }
for version in "${versions[@]}"; do
  dest="$cache/$arch-$version-$(key_of "$version")"
  if [ -f "$dest/.complete" ]; then
    echo "SQLite $version for $arch from the cache" >&2
    echo "$dest"
    exit 0
  fi
done

work=$(mktemp -d /tmp/veskar-sqlite.XXXXXX)
trap 'rm -rf "$work"' EXIT
version=""
for candidate in "${versions[@]}"; do
  if (cd "$work" && apt-get source --download-only -qq "sqlite3=$candidate" >/dev/null 2>&1); then
    version=$candidate
    break
  fi
  echo "sqlite_mingw.sh: the source of sqlite3 $candidate did not download; trying an older one" >&2
  rm -f "$work"/*
done
[ -n "$version" ] || { echo "sqlite_mingw.sh: no sqlite3 source could be downloaded" >&2; exit 1; }
dest="$cache/$arch-$version-$(key_of "$version")"

dsc=$(ls "$work"/sqlite3_*.dsc)
if command -v dpkg-source >/dev/null 2>&1; then
  (cd "$work" && dpkg-source --no-check -x "$dsc" src >/dev/null)
else
  mkdir "$work/src"
  tar -xf "$work"/sqlite3_*.orig.tar.* -C "$work/src" --strip-components=1
fi

cd "$work/src"
echo "== SQLite $version for $arch: ${flags[*]} ==" >&2
./configure --disable-tcl >/dev/null 2>"$work/configure.log" ||
  { tail -20 "$work/configure.log" >&2; exit 1; }
make -s sqlite3.c >/dev/null 2>"$work/make.log" || { tail -20 "$work/make.log" >&2; exit 1; }
"$compiler" "${flags[@]}" -c sqlite3.c -o sqlite3.o
rm -rf "$dest"
mkdir -p "$dest/lib" "$dest/include"
"$archiver" rcs "$dest/lib/libsqlite3.a" sqlite3.o
cp sqlite3.h "$dest/include/"
echo "$version" > "$dest/VERSION"
touch "$dest/.complete"
echo "$dest"
