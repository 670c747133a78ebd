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
command -v tclsh >/dev/null 2>&1 ||
  { echo "sqlite_mingw.sh: needs tclsh (Debian package tcl) to make sqlite3.c" >&2; exit 1; }
# shellcheck source=scripts/debian_source.sh
source "$(dirname "$0")/debian_source.sh"

key_of() { printf '%s %s %s' "$1" "$compiler" "${flags[*]}" | sha256sum | cut -c1-16; }
debian_source_entry sqlite3
debian_source_versions sqlite3
debian_source_cached SQLite "$arch" && exit 0

work=$(mktemp -d /tmp/veskar-sqlite.XXXXXX)
trap 'rm -rf "$work"' EXIT
debian_source_fetch sqlite3 "$work"
dest="$cache/$arch-$version-$(key_of "$version")"

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
