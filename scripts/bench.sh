#!/usr/bin/env bash
# Builds the benchmarks in a Release build (build-bench/) and runs them. Arguments
# go to the benchmark (e.g. --benchmark_filter=encode); without any but the
# path switch, each case runs five times in shuffled order and the medians are
# compared, which keeps the ratios steady on a busy machine.
# --veskar_path=scalar|ssse3|avx2|avx512vbmi makes the Base64 conversions take
# that path in place of the best the CPU offers; either runs beside the AVX2
# path where the CPU has that.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVESKAR_BUILD_BENCHMARKS=ON \
  -DVESKAR_BUILD_TESTS=OFF -DVESKAR_BUILD_TOOLS=OFF >/dev/null
cmake --build build-bench --target base64_benchmark cms_enrollment_benchmark \
  cmp_enrollment_benchmark ca_register_benchmark -j2
# The path switch is the Base64 benchmark's own.
others=()
for argument in "$@"; do
  [[ $argument == --veskar_path=* ]] || others+=("$argument")
done
if [ ${#others[@]} -eq 0 ]; then
  others=(--benchmark_repetitions=5 --benchmark_enable_random_interleaving=true
    --benchmark_report_aggregates_only=true)
  set -- "$@" "${others[@]}"
fi
build-bench/benchmarks/base64_benchmark "$@"
# Enrollments leave their protected-data files in TMPDIR: use a scratch one.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
TMPDIR="$scratch" build-bench/benchmarks/cms_enrollment_benchmark "${others[@]}"
# The register's scale: its 1,000,000-user register is built once a run.
TMPDIR="$scratch" build-bench/benchmarks/ca_register_benchmark "${others[@]}"
# Enrollment over CMP goes through the CMS toolkit, found on the search path.
TMPDIR="$scratch" LD_LIBRARY_PATH="$PWD/build-bench/toolkits/lib/cmsapi32" \
  build-bench/benchmarks/cmp_enrollment_benchmark "${others[@]}"
