#!/usr/bin/env bash
# Builds with ThreadSanitizer and runs the test cases of the given areas (the filter
# beside each area in scripts/tsan-tests.txt, *Thread* by default), or of every area listed in scripts/tsan-tests.txt.
#   bash scripts/tsan.sh          every listed area
#   bash scripts/tsan.sh comms    one area
# TSAN_BUILD_DIR names the build folder (default build-tsan), JOBS the parallel
# compile jobs (default 2). Exits non-zero when any run reports a race or fails.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${TSAN_BUILD_DIR:-build-tsan}
jobs=${JOBS:-2}
if [ $# -gt 0 ]; then
    areas="$*"
else
    areas=$(grep -v '^#' scripts/tsan-tests.txt | awk 'NF {print $1}' | xargs)
fi
filter_of() {
    local f
    f=$(awk -v a="$1" '$1 == a && NF > 1 {print $2}' scripts/tsan-tests.txt)
    echo "${f:-*Thread*}"
}
cmake -S . -B "$build" -DVTR_TSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
for a in $areas; do
    if [ -d "tests/$a" ]; then
        cmake --build "$build" -j"$jobs" --target "test_$a"
    else
        echo "== tests/$a does not exist, skipped"
    fi
done
# Qt is not instrumented: what its own helper threads (the file dialog's file
# information thread, the platform plugin) allocate and free is left out, while
# every access made by the project's code stays checked.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ignore_noninstrumented_modules=1 suppressions=$(pwd)/scripts/tsan.supp"
status=0
for a in $areas; do
    if [ -x "$build/test_$a" ]; then
        f=$(filter_of "$a")
        echo "== ThreadSanitizer: test_$a ($f)"
        QT_QPA_PLATFORM=offscreen "$build/test_$a" --gtest_filter="$f" || status=1
    fi
done
exit $status
