#!/usr/bin/env bash
# apt-get update that outlasts a mirror caught mid-sync ("File has
# unexpected size"): tries again after a pause, up to four times. If every
# try fails it warns and succeeds, since apt keeps the lists it had and an
# install of a missing package then fails with its own clear message.
# Arguments go before apt-get: `apt_update.sh chroot ROOT` updates there.
set -uo pipefail
sudo=""
[ "$(id -u)" -eq 0 ] || [ $# -gt 0 ] || sudo="sudo"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
for pause in 10 30 60 0; do
  $sudo "$@" apt-get update -qq >"$log" 2>&1 && exit 0
  if [ "$pause" -gt 0 ]; then
    echo "apt-get update failed; trying again in ${pause}s: $(grep -m1 '^E:' "$log")" >&2
    sleep "$pause"
  fi
done
echo "warning: apt-get update kept failing; going on with the package lists apt has:" >&2
cat "$log" >&2
exit 0
