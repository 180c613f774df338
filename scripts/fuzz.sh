#!/usr/bin/env bash
# Builds the specification reader's fuzz target with clang (AddressSanitizer,
# UndefinedBehaviorSanitizer, libFuzzer) in build-fuzz and runs it for a bounded
# number of executions, seeded with the specification files of the tests.
#   scripts/fuzz.sh [runs]    (default: TABRIX_FUZZ_RUNS or 200000; at most
#                              TABRIX_FUZZ_SECONDS seconds, default 60)
# A crash, a hang (over 10 s on one input) or a leak fails the script and leaves
# the input in build-fuzz/ as crash-*, timeout-* or leak-*.
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-${TABRIX_FUZZ_RUNS:-200000}}"
seconds="${TABRIX_FUZZ_SECONDS:-60}"
bash scripts/setup.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DTABRIX_FUZZ=ON -DTABRIX_BUILD_TESTS=OFF \
    -DTABRIX_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz --target specification_reader_fuzz -j "$(nproc)"
corpus=build-fuzz/corpus/specification_reader
mkdir -p "$corpus"
exec build-fuzz/tests/fuzz/specification_reader_fuzz -runs="$runs" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 -artifact_prefix=build-fuzz/ \
    "$corpus" tests/data/specification
