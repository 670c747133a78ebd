#!/usr/bin/env bash
# Builds the libFuzzer targets (the Base64 codec, the CA's CMP request
# handling, the served CA's HTTP front) with clang in build-fuzz/ and runs each one
# from its seed corpus in fuzz/corpus/ for a share of FUZZ_SECONDS (default
# 60 in all). Fails when a fuzzer reports a crash, an overrun, undefined
# behaviour, a leak or a failed check; the input is left in build-fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

total=${FUZZ_SECONDS:-60}
# The _emulated codec fuzzers run the AVX-512 VBMI path on portable versions
# of its instructions, on any CPU; they share the seeds of the plain ones.
fuzzers=(base64_decode base64_round_trip base64_decode_emulated base64_round_trip_emulated
  cmp_service http_front)
per_fuzzer=$(( total / ${#fuzzers[@]} ))
(( per_fuzzer >= 1 )) || per_fuzzer=1

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVESKAR_BUILD_FUZZERS=ON -DVESKAR_BUILD_TESTS=OFF -DVESKAR_BUILD_TOOLS=OFF \
  -DVESKAR_WERROR="${VESKAR_WERROR:-OFF}" >/dev/null
cmake --build build-fuzz -j2 --target "${fuzzers[@]/%/_fuzzer}"

mkdir -p build-fuzz/artifacts
for name in "${fuzzers[@]}"; do
  # New inputs go to the build tree; the seeds in the repository stay as they are.
  mkdir -p "build-fuzz/corpus/$name"
  seeds="fuzz/corpus/${name%_emulated}"
  echo "fuzzing $name for ${per_fuzzer}s" >&2
  "build-fuzz/fuzz/${name}_fuzzer" -max_total_time="$per_fuzzer" -print_final_stats=1 \
    -artifact_prefix="build-fuzz/artifacts/$name-" "build-fuzz/corpus/$name" "$seeds"
done
