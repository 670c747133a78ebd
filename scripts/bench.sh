#!/usr/bin/env bash
# Builds the benchmarks in a Release build (build-bench/) and runs them; extra
# arguments go to the benchmark (e.g. --benchmark_filter=encode).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVESKAR_BUILD_BENCHMARKS=ON \
  -DVESKAR_BUILD_TESTS=OFF -DVESKAR_BUILD_TOOLS=OFF >/dev/null
cmake --build build-bench --target base64_benchmark -j2
build-bench/benchmarks/base64_benchmark "$@"
