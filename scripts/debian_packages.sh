#!/usr/bin/env bash
# Builds the Debian packages (libveskar1, libveskar-dev, veskar-cmp-toolkits,
# veskar) from a copy of this tree into build-deb/, checks each with lintian,
# renders the manual page and loads the bash completion. Then it makes a
# fresh minimal Debian 12 with debootstrap in a throw-away folder, installs
# the packages there with apt (their dependencies from the registry, as a
# user gets them) and checks, in that system: the service mask is 7 with no
# environment at all; a CA made, given a user and served on loopback
# enrolls that user at its URL; the example host builds against
# libveskar-dev with pkg-config and with CMake and enrolls with no
# LD_LIBRARY_PATH; the unit passes systemd-analyze verify; and purging the
# packages leaves no file behind. Needs root (debootstrap, chroot, mounts),
# but not for --build-only, which stops after the manual page's checks.
#
# Usage: debian_packages.sh [--build-only]
#
# debootstrap's packages are kept in ~/.cache/veskar/ (one tarball a suite
# and architecture), and so are apt's lists and packages of the fresh
# system, so that a second run downloads little.
set -euo pipefail
cd "$(dirname "$0")/.."
readonly suite=bookworm
readonly packages=(libveskar1 libveskar-dev veskar-cmp-toolkits veskar)
readonly out=build-deb
build_only=false
case "${1:-}" in
  "") ;;
  --build-only) build_only=true ;;
  *) echo "usage: $0 [--build-only]" >&2; exit 2 ;;
esac
if ! $build_only && [ "$(id -u)" -ne 0 ]; then
  echo "$0: needs root for debootstrap and chroot (--build-only does not)" >&2
  exit 2
fi
bash scripts/deps.sh debian

work=$(mktemp -d /tmp/veskar-deb.XXXXXX)
root=""
server=""
arch=$(dpkg --print-architecture)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/veskar
apt_cache=$cache/apt-$suite-$arch

# Mounts below the fresh system, deepest first.
mounts_below() {
  awk -v top="$1/" 'index($2, top) == 1 { print $2 }' /proc/mounts | sort -r
}

# The processes running in the fresh system: all started by this script.
processes_in_root() {
  local process
  for process in /proc/[0-9]*; do
    [ "$(readlink "$process/root" 2>/dev/null)" = "$root" ] && echo "${process#/proc/}"
  done
  return 0
}

cleanup() {
  local status=$?
  if [ -n "$server" ] && kill "$server" 2>/dev/null; then wait "$server" 2>/dev/null || true; fi
  if [ -n "$root" ] && [ -d "$root" ]; then
    local mount process
    for process in $(processes_in_root); do kill -KILL "$process" 2>/dev/null || true; done
    for mount in $(mounts_below "$root"); do umount "$mount" || umount -l "$mount" || true; done
  fi
  if [ -n "$root" ] && [ -n "$(mounts_below "$root")" ]; then
    echo "$0: still mounted below $root; left $work in place" >&2
  else
    # Never across a mount, whatever happened above.
    rm -rf --one-file-system "$work"
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

step() {
  printf '== %s (%ds)\n' "$1" "$SECONDS"
}

fail() {
  echo "$0: $*" >&2
  exit 1
}

# ---- The packages, from a copy of the tree as it is (committed or not).
step "building the packages"
mkdir "$work/src"
git ls-files -co --exclude-standard -z | tar -c --null --ignore-failed-read -T - -f - 2>/dev/null |
  tar -x -C "$work/src"
if ! (cd "$work/src" && DEB_BUILD_OPTIONS="nocheck noddebs parallel=2" \
  VESKAR_WERROR="${VESKAR_WERROR:-OFF}" dpkg-buildpackage -b -uc -us >"$work/build.log" 2>&1); then
  tail -n 60 "$work/build.log" >&2
  fail "dpkg-buildpackage failed"
fi
rm -rf "$out"
mkdir -p "$out"
for package in "${packages[@]}"; do
  cp "$work/${package}_"*.deb "$out/"
done
for deb in "$out"/*.deb; do
  printf '%s: %s KiB installed, %s bytes\n  Depends: %s\n' "$(basename "$deb")" \
    "$(dpkg-deb -f "$deb" Installed-Size)" "$(stat -c %s "$deb")" "$(dpkg-deb -f "$deb" Depends)"
done

step "lintian"
linted=true
lintian --fail-on error,warning "$out"/*.deb >"$work/lintian.txt" 2>&1 || linted=false
grep -v '^running with root privileges' "$work/lintian.txt" || true
$linted || fail "lintian reports errors or warnings"

step "the manual page and the completion"
dpkg-deb -x "$out"/veskar_*.deb "$work/veskar"
page=$work/veskar/usr/share/man/man1/veskar.1.gz
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 MANPAGER=cat man --warnings -l "$page" 2>&1 >"$work/page.txt")
[ -z "$warnings" ] || fail "man warns about the page: $warnings"
grep -q "veskar ca serve DIR \[--listen ADDRESS:PORT\]" "$work/page.txt" || fail "the page does not render"
bash --norc -c 'source "$1" && complete -p veskar' completion \
  "$work/veskar/usr/share/bash-completion/completions/veskar" | grep -q -- "-F _veskar veskar" ||
  fail "the completion script does not load"

if $build_only; then
  step "done: $out/"
  exit 0
fi

# ---- A fresh Debian 12, as apt on this machine reaches it.

# The first URI this machine's apt takes `suite` from (one-line or deb822
# sources), or nothing.
apt_uri() {
  local wanted=$1 file
  local -a lines=() paragraphs=()
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$file" ] && lines+=("$file")
  done
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] && paragraphs+=("$file")
  done
  {
    [ ${#lines[@]} -eq 0 ] || awk -v s="$wanted" '$1 == "deb" {
        i = 2; if ($i ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
        if ($(i + 1) == s) print $i }' "${lines[@]}"
    # One paragraph a source; a file's last one ends with the file.
    [ ${#paragraphs[@]} -eq 0 ] || awk -v s="$wanted" 'BEGIN { RS = ""; FS = "\n" } {
        uris = ""; suites = ""; types = ""
        for (i = 1; i <= NF; i++) {
          if ($i ~ /^URIs:/) uris = $i; if ($i ~ /^Suites:/) suites = $i; if ($i ~ /^Types:/) types = $i
        }
        sub(/^URIs:[ \t]*/, "", uris); sub(/^Suites:[ \t]*/, "", suites)
        if (types !~ /(^|[ \t])deb([ \t]|$)/) next
        n = split(suites, list, /[ \t]+/)
        for (j = 1; j <= n; j++) if (list[j] == s) { split(uris, u, /[ \t]+/); print u[1] }
      }' "${paragraphs[@]}"
  } | head -n 1
}
mirror=$(apt_uri "$suite" || true)
security=$(apt_uri "$suite-security" || true)
: "${mirror:=http://deb.debian.org/debian}"
: "${security:=http://deb.debian.org/debian-security}"

tarball=$cache/debootstrap-$suite-$arch.tgz
if [ ! -s "$tarball" ]; then
  step "debootstrap: fetching $suite from $mirror into $tarball"
  mkdir -p "$cache"
  debootstrap --variant=minbase --arch="$arch" --make-tarball="$tarball.part" "$suite" \
    "$work/fetch" "$mirror" >"$work/debootstrap.log" 2>&1 || {
    tail -n 30 "$work/debootstrap.log" >&2
    fail "debootstrap could not fetch $suite"
  }
  mv "$tarball.part" "$tarball"
  rm -rf "$work/fetch"
fi
step "debootstrap: a minimal $suite"
root=$work/root
debootstrap --variant=minbase --arch="$arch" --unpack-tarball="$tarball" "$suite" "$root" \
  "$mirror" >"$work/debootstrap.log" 2>&1 || {
  tail -n 30 "$work/debootstrap.log" >&2
  fail "debootstrap could not make $suite"
}
mount -t proc proc "$root/proc"
cat >"$root/etc/apt/sources.list" <<EOF
deb $mirror $suite main
deb $mirror $suite-updates main
deb $security $suite-security main
EOF
cp /etc/resolv.conf "$root/etc/resolv.conf"

# A command in the fresh system, with a plain environment.
chroot=$(command -v chroot)
in_root() {
  env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$chroot" "$root" "$@"
}
# The same in place of the calling shell: started in the background, its
# process is the command's own, which a signal then reaches.
in_root_exec() {
  exec env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8 "$chroot" "$root" "$@"
}
apt_install() {
  in_root apt-get install -y -qq --no-install-recommends "$@" >>"$work/apt.log" 2>&1 || {
    tail -n 30 "$work/apt.log" >&2
    fail "apt-get install $* failed"
  }
}

step "apt: the example host's build tools, and what the packages depend on"
if [ -d "$apt_cache/archives" ]; then
  cp "$apt_cache"/archives/*.deb "$root/var/cache/apt/archives/" 2>/dev/null || true
  cp "$apt_cache"/lists/* "$root/var/lib/apt/lists/" 2>/dev/null || true
fi
# Tried again after a pause: a mirror caught mid-sync fails for a while.
updated=""
for pause in 10 30 0; do
  in_root apt-get update -qq >"$work/apt.log" 2>&1 && { updated=yes; break; }
  [ "$pause" -eq 0 ] || { echo "apt-get update failed; trying again in ${pause}s" >&2; sleep "$pause"; }
done
[ -n "$updated" ] || { cat "$work/apt.log" >&2; fail "apt-get update failed in the fresh system"; }
apt_install g++ make cmake pkg-config
mkdir "$root/tmp/debs"
cp "$out"/*.deb "$root/tmp/debs/"
debs=()
for deb in "$out"/*.deb; do debs+=("/tmp/debs/$(basename "$deb")"); done
# What apt would bring with the packages, installed first so that a file
# list of the system without them can be taken.
mapfile -t dependencies < <(in_root apt-get install -s --no-install-recommends "${debs[@]}" |
  sed -n 's/^Inst \([^ ]*\) .*/\1/p' | grep -vxF "${packages[@]/#/-e}" || true)
[ ${#dependencies[@]} -eq 0 ] || apt_install "${dependencies[@]}"

# Every file of the system but those that change by themselves: logs, apt's
# lists and packages, debconf's database, and the temporary folders.
file_list() {
  (cd "$root" && find . -xdev \( -path ./proc -o -path ./tmp -o -path ./var/tmp -o \
    -path ./var/log -o -path ./var/lib/apt/lists -o -path ./var/cache/apt -o \
    -path ./var/cache/debconf \) -prune -o -print) | sort
}
file_list >"$work/before.txt"

# What apt fetched serves the next run.
rm -rf "$apt_cache"
mkdir -p "$apt_cache/archives" "$apt_cache/lists"
cp "$root"/var/cache/apt/archives/*.deb "$apt_cache/archives/"
find "$root/var/lib/apt/lists" -maxdepth 1 -type f ! -name lock -exec cp {} "$apt_cache/lists/" \;

step "apt: the packages"
apt_install "${debs[@]}"
for package in "${packages[@]}"; do
  in_root dpkg-query -W -f='${Status}\n' "$package" | grep -q "install ok installed" ||
    fail "$package is not installed"
done

step "in the fresh system: the services an unchanged host sees"
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
services=$(env -i "$chroot" "$root" /usr/bin/veskar services)
echo "$services"
grep -qx "service mask: 7" <<<"$services" || fail "the service mask is not 7"
grep -q "4 CMS enrollment: available, loaded from /usr/lib/$multiarch/libcmsapi32.so" \
  <<<"$services" || fail "the CMS toolkit did not come from the library folder"

step "in the fresh system: a CA served on loopback, and an enrollment at its URL"
t=/root/veskar-test
mkdir -p "$root$t/directory"
in_root veskar ca init "$t/ca" >/dev/null
# Registers a user and writes the pair to $t/NAME.reference and .code.
add_user() {
  local user
  user=$(in_root veskar ca add-user "$t/ca" "CN=$1, O=Veskar Packages")
  sed -n 's/^reference number: //p' <<<"$user" >"$root$t/$1.reference"
  (umask 077 && sed -n 's/^authorisation code: //p' <<<"$user" >"$root$t/$1.code")
}
add_user Command
in_root_exec veskar ca serve "$t/ca" --listen 127.0.0.1:0 >"$work/serve.out" 2>"$work/serve.err" &
server=$!
url=""
for _ in $(seq 100); do
  url=$(sed -n 's/^serving .* at \(http:[^ ]*\)$/\1/p' "$work/serve.out")
  [ -n "$url" ] && break
  kill -0 "$server" 2>/dev/null || break
  sleep 0.1
done
[ -n "$url" ] || { cat "$work/serve.err" >&2; fail "veskar ca serve did not start"; }
in_root veskar enroll cms --ca "$url" --reference "$(cat "$root$t/Command.reference")" \
  --code-file "$t/Command.code" --new-key "$t/command.key" --cert "$t/command.pem" \
  --ca-cert "$t/command-ca.pem"
openssl verify -CAfile "$root$t/ca/ca.pem" "$root$t/command.pem"
# The installed stand-ins are known as such: a CA folder that is not there
# is refused before the toolkit is called.
if in_root veskar enroll cms --ca /nonexistent --reference 1 --code-file "$t/Command.code" \
  --new-key "$t/none.key" --cert "$t/none.pem" 2>"$work/refused.txt"; then
  fail "an enrollment at a missing CA folder succeeded"
fi
grep -q "there is no CA folder /nonexistent" "$work/refused.txt" ||
  fail "unexpected refusal: $(cat "$work/refused.txt")"

step "in the fresh system: the example host, built with pkg-config and with CMake"
cp -r examples/enroll_host "$root$t/enroll_host"
openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=Host User" \
  -keyout "$root$t/host.key" -outform DER -out "$root$t/request.der" 2>/dev/null
in_root sh -c "c++ -std=c++17 $t/enroll_host/enroll_host.cpp -o $t/host-pkg-config \
  \$(pkg-config --cflags --libs veskar)"
in_root cmake -S "$t/enroll_host" -B "$t/host-cmake" >/dev/null
in_root cmake --build "$t/host-cmake" >/dev/null
# One at the served CA's URL, one at its folder (the CA answering in the
# host's process); no variable of the environment at all.
for host in pkg-config cmake; do
  add_user "Host-$host"
  location=$url
  program=$t/host-pkg-config
  if [ "$host" = cmake ]; then
    location=$t/ca
    program=$t/host-cmake/enroll_host
  fi
  env -i "$chroot" "$root" "$program" "$location" "$t/directory" \
    "$(cat "$root$t/Host-$host.reference")" "$t/Host-$host.code" "$t/request.der" \
    "$t/$host.der" "$t/$host-ca.der"
  openssl verify -CAfile <(openssl x509 -inform der -in "$root$t/$host-ca.der") \
    <(openssl x509 -inform der -in "$root$t/$host.der") >/dev/null ||
    fail "the $host host's certificate does not verify"
done
kill "$server"
wait "$server" 2>/dev/null || true
server=""

step "in the fresh system: the service unit and its user"
in_root getent passwd _veskar-ca >/dev/null || fail "the service's user was not made"
# The unit's Documentation= is the manual page the package installs.
MANPATH=$root/usr/share/man systemd-analyze verify --root="$root" veskar-ca@main.service
# No systemd runs here: the unit's commands run as it would run them, as
# its user in its state folder. The first start makes the CA, the next
# serves it as it is.
unit=$root/lib/systemd/system/veskar-ca@.service
state=/var/lib/veskar-ca/check
in_root install -d -o _veskar-ca -g _veskar-ca -m 0700 "$state"
# A command line of the unit, run as its user with the specifiers of the
# instance "check" filled in; systemd runs it without a shell, hence the exec.
as_service() {
  local line=${1//%S//var/lib}
  line=${line//%i/check}
  in_root_exec runuser -u _veskar-ca -- env STATE_DIRECTORY="$state" \
    "CA_NAME=CN=Unit CA, O=Veskar" LISTEN=127.0.0.1:0 sh -c "exec $line"
}
for start in first second; do
  (as_service "$(sed -n 's/^ExecStartPre=//p' "$unit" | sed 's/\$\$/$/g')") >/dev/null ||
    fail "the unit's ExecStartPre failed on the $start start"
done
as_service "$(sed -n 's/^ExecStart=//p' "$unit")" >"$work/unit.out" 2>&1 &
server=$!
for _ in $(seq 100); do
  grep -q "^serving $state at http://127.0.0.1:" "$work/unit.out" && break
  kill -0 "$server" 2>/dev/null || break
  sleep 0.1
done
grep -q "^serving $state at http://127.0.0.1:" "$work/unit.out" ||
  fail "the unit's ExecStart does not serve: $(cat "$work/unit.out")"
kill "$server"
wait "$server" 2>/dev/null || true
server=""
openssl x509 -in "$root$state/ca.pem" -noout -subject | grep -q "CN = Unit CA" ||
  fail "the unit's first start did not make the CA it was told to"
rm -rf "$root/var/lib/veskar-ca"

step "in the fresh system: purging the packages"
[ -z "$(processes_in_root)" ] || fail "processes left running: $(processes_in_root)"
rm -rf "$root$t"
in_root apt-get purge -y -qq "${packages[@]}" >>"$work/apt.log" 2>&1 || {
  tail -n 30 "$work/apt.log" >&2
  fail "apt-get purge failed"
}
file_list >"$work/after.txt"
if ! diff "$work/before.txt" "$work/after.txt" >"$work/left.txt"; then
  cat "$work/left.txt" >&2
  fail "purging the packages left the system changed"
fi
step "done: $out/, installed, used and purged on a fresh $suite"
