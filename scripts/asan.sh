#!/usr/bin/env bash
# Builds the whole suite with AddressSanitizer and UndefinedBehaviorSanitizer (no
# recovery: the first finding fails its program) into build-asan/ and runs it.
# ASAN_BUILD_DIR names the build folder, JOBS the parallel compile jobs (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${ASAN_BUILD_DIR:-build-asan}
cmake -S . -B "$build" -DVTR_ASAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"${JOBS:-2}"
# Qt keeps some allocations for the life of the process: leaks are not what this
# pass looks for (the suite's own objects are checked by the address checks).
export ASAN_OPTIONS="detect_leaks=0 abort_on_error=1 strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1"
(cd "$build" && ctest --output-on-failure)
