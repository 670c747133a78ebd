# Shared by the scripts that build a library for mingw-w64 from Debian's own
# source package: the deb-src entry, the versions apt offers, the cache
# lookup, and the download and unpacking of the newest version that
# downloads. Sourced; the caller sets `cache` (its cache folder) and defines
# `key_of VERSION` (what names a build in the cache).

debian_source_sudo=""
[ "$(id -u)" -eq 0 ] || debian_source_sudo="sudo"

# Makes sure apt can fetch the source of package $1: a deb-src entry beside
# the binary suites already configured, so that apt checks the source
# against the signed index.
debian_source_entry() {
  local list=/etc/apt/sources.list.d/veskar-deb-src.sources
  apt-get source --print-uris "$1" >/dev/null 2>&1 && return 0
  if [ ! -f "$list" ]; then
    $debian_source_sudo tee "$list" >/dev/null <<'EOF'
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
  bash "$(dirname "${BASH_SOURCE[0]}")/apt_update.sh"
}

# Fills `versions` with the versions of source package $1 that apt offers,
# newest first, ending with the main suite's: the newest security update's
# .dsc has been seen missing from the mirror.
debian_source_versions() {
  mapfile -t versions < <(apt-cache showsrc "$1" 2>/dev/null |
                            sed -n 's/^Version: //p' | sort -rV | uniq)
  [ ${#versions[@]} -gt 0 ] || { echo "apt knows no $1 source" >&2; return 1; }
}

# Prints the prefix of a finished build of one of `versions` for
# architecture $2 in the cache, saying so as $1 on stderr; fails when there
# is none.
debian_source_cached() {
  local name=$1 arch=$2 candidate prefix
  for candidate in "${versions[@]}"; do
    prefix="$cache/$arch-$candidate-$(key_of "$candidate")"
    if [ -f "$prefix/.complete" ]; then
      echo "$name $candidate for $arch from the cache" >&2
      echo "$prefix"
      return 0
    fi
  done
  return 1
}

# Downloads the source of package $1 into folder $2, the newest of
# `versions` that downloads, sets `version` to it, and unpacks it into
# $2/src: with Debian's patches applied when dpkg-source is there,
# otherwise the original tarball, which apt has already checked.
debian_source_fetch() {
  local package=$1 work=$2 candidate
  version=""
  for candidate in "${versions[@]}"; do
    if (cd "$work" && apt-get source --download-only -qq "$package=$candidate" >/dev/null 2>&1); then
      version=$candidate
      break
    fi
    echo "the source of $package $candidate did not download; trying an older one" >&2
    rm -f "$work"/*
  done
  [ -n "$version" ] || { echo "no $package source could be downloaded" >&2; return 1; }
  if command -v dpkg-source >/dev/null 2>&1; then
    (cd "$work" && dpkg-source --no-check -x "$(ls "$work/${package}_"*.dsc)" src >/dev/null)
  else
    mkdir "$work/src"
    tar -xf "$work/${package}_"*.orig.tar.* -C "$work/src" --strip-components=1
  fi
}
