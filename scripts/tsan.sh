#!/usr/bin/env bash
# Builds into build-tsan/ with ThreadSanitizer and runs the tests that start threads.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-tsan -DVTR_TSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=$(cat scripts/tsan-tests.txt | grep -v '^#' | xargs)
for t in $targets; do
    if [ -d "tests/$t" ]; then
        cmake --build build-tsan -j"$(nproc)" --target "test_$t"
    fi
done
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(pwd)/scripts/tsan.supp"
for t in $targets; do
    if [ -x "build-tsan/test_$t" ]; then
        echo "== ThreadSanitizer: test_$t (threaded cases)"
        QT_QPA_PLATFORM=offscreen "build-tsan/test_$t" --gtest_filter='*Thread*:*Threaded*'
    fi
done
