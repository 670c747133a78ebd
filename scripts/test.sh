#!/usr/bin/env bash
# Builds everything in build/ and runs the whole test suite. VESKAR_WERROR=ON
# in the environment turns compiler warnings into errors (CI sets it).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVESKAR_WERROR="${VESKAR_WERROR:-OFF}" >/dev/null
cmake --build build
ctest --test-dir build --output-on-failure -j"$(nproc)"
