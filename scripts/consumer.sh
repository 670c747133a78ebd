#!/usr/bin/env bash
# Installs the library from BUILD_DIR into a scratch prefix and builds and runs
# a host project against the installed copy, through the CMake package and
# through pkg-config.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
cmake -S tests/consumer -B "$scratch/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$scratch/prefix" >/dev/null
cmake --build "$scratch/consumer" >/dev/null
LD_LIBRARY_PATH="$scratch/prefix/lib" "$scratch/consumer/consumer"
PKG_CONFIG_PATH="$scratch/prefix/lib/pkgconfig" \
  c++ -std=c++17 tests/consumer/consumer.cpp -o "$scratch/consumer-pc" \
  $(PKG_CONFIG_PATH="$scratch/prefix/lib/pkgconfig" pkg-config --cflags --libs veskar)
LD_LIBRARY_PATH="$scratch/prefix/lib" "$scratch/consumer-pc"
ls "$scratch/prefix/lib" | grep -q '^libveskar.so.1.0.0.2$'

# The host example, built both ways against the installed copy, enrolls a
# user each through the installed stand-ins, as the README describes.
prefix=$scratch/prefix
export PATH=$prefix/bin:$PATH
cmake -S examples/enroll_host -B "$scratch/enroll_host" -G Ninja \
  -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$scratch/enroll_host" >/dev/null
PKG_CONFIG_PATH="$prefix/lib/pkgconfig" \
  c++ -std=c++17 examples/enroll_host/enroll_host.cpp -o "$scratch/enroll_host-pc" \
  $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs veskar)
run=$scratch/run
mkdir "$run" "$run/directory"
veskar ca init "$run/ca" >/dev/null
openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=Host User" \
  -keyout "$run/user.key" -outform DER -out "$run/request.der" 2>/dev/null
for host in "$scratch/enroll_host/enroll_host" "$scratch/enroll_host-pc"; do
  user=$(veskar ca add-user "$run/ca" "CN=Host User, O=Veskar Example")
  (umask 077 && sed -n 's/^authorisation code: //p' <<<"$user" >"$run/code")
  # The library, then the stand-in toolkits, on the loader's search path
  # from the start; the library's temporary files in a folder of the run's.
  TMPDIR=$run \
    LD_LIBRARY_PATH="$prefix/lib:$prefix/lib/veskar/toolkits/cmsapi32:$prefix/lib/veskar/toolkits/kmpapi32" \
    "$host" "$run/ca" "$run/directory" "$(sed -n 's/^reference number: //p' <<<"$user")" \
    "$run/code" "$run/request.der" "$run/user.der" "$run/ca.der"
  openssl verify -CAfile <(openssl x509 -inform der -in "$run/ca.der") \
    <(openssl x509 -inform der -in "$run/user.der") >/dev/null
done
[ "$(ls "$run/directory" | wc -l)" -eq 2 ]
