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
