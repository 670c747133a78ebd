# Sourced by the Windows scripts: a throw-away Wine prefix for one
# architecture's programs.
#
#   wine_prefix_begin x86_64|i686   # sets WINE (the loader) and WINEPREFIX
#   "$WINE" program.exe ...
#   wine_prefix_end                 # stops its server, removes the prefix
#
# x86_64 programs run under wine64 in a 64-bit prefix, i686 programs under
# the 32-bit loader in a 32-bit prefix of their own. The prefix is set up
# and kept alive by a persistent server before any test starts, so that
# parallel programs never race Wine's first-time set-up.

wine_dir=/usr/lib/wine

wine_prefix_begin() {
  case "$1" in
    x86_64)
      WINE=$wine_dir/wine64
      [ -x "$WINE" ] || WINE=$(command -v wine64)
      unset WINEARCH
      ;;
    i686)
      WINE=$wine_dir/wine
      export WINEARCH=win32
      ;;
    *) echo "wine_prefix_begin: unknown architecture $1" >&2; return 2 ;;
  esac
  [ -x "$WINE" ] || { echo "no Wine loader for $1 ($WINE)" >&2; return 1; }
  export WINE WINEPREFIX
  WINEPREFIX=$(mktemp -d /tmp/veskar-wine.XXXXXX)
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  # Folders of the other architecture's runtime DLLs must not come first.
  unset WINEPATH
  wine_server_keep
  "$WINE" wineboot --init >/dev/null 2>&1
}

# A persistent server for the prefix. It outlives the script's commands, so
# it must not hold their output open (a pipe reading it would never end).
wine_server_keep() {
  "$wine_dir/wineserver" -p </dev/null >/dev/null 2>&1
}

wine_prefix_end() {
  [ -n "${WINEPREFIX:-}" ] || return 0
  "$wine_dir/wineserver" -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
  unset WINEPREFIX WINEARCH
}

# The Windows name of a Linux path (Wine's Z: drive is the root folder).
wine_path() {
  local path
  path=$(realpath -m "$1")
  printf 'Z:%s' "${path//\//\\}"
}
