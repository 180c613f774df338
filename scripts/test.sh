#!/usr/bin/env bash
# Sets up (installs missing Debian packages), builds, and runs the whole test suite, then
# the specification reader's fuzz target for a bounded number of executions (about a
# minute; TABRIX_FUZZ=0 skips it).
# TABRIX_SANITIZE=1 builds and tests with AddressSanitizer + UndefinedBehaviorSanitizer;
# TABRIX_SHARED=1 builds and tests the shared libraries in build-shared/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=build
san=OFF
shared=OFF
if [ "${TABRIX_SANITIZE:-0}" = "1" ]; then build=build-asan; san=ON; fi
if [ "${TABRIX_SHARED:-0}" = "1" ]; then build=$build-shared; shared=ON; fi
cmake -S . -B "$build" -G Ninja -DTABRIX_SANITIZE=$san -DBUILD_SHARED_LIBS=$shared -DTABRIX_BUILD_BENCH=OFF
cmake --build "$build" -j "$(nproc)"
(cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)")
if [ "${TABRIX_FUZZ:-1}" != "0" ]; then
  TABRIX_FUZZ_RUNS=${TABRIX_FUZZ_RUNS:-50000} TABRIX_FUZZ_SECONDS=${TABRIX_FUZZ_SECONDS:-60} bash scripts/fuzz.sh
fi
