#!/usr/bin/env bash
# Builds everything with ThreadSanitizer (build-tsan/) and runs every test program
# whole, or the programs of the given areas (tests/AREA -> test_AREA).
#   bash scripts/tsan.sh          every test program
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
    # One program per folder of tests/ with sources, as tests/CMakeLists.txt makes them.
    areas=$(for d in tests/*/; do
        a=$(basename "$d")
        case "$a" in support | fuzz) continue ;; esac
        compgen -G "$d*.cpp" >/dev/null && echo "$a"
    done | xargs)
fi
for a in $areas; do
    [ -d "tests/$a" ] || { echo "== tests/$a does not exist" >&2; exit 2; }
done
cmake -S . -B "$build" -DVTR_TSAN=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# Everything: the process tests start the program and the companion, which then run
# under ThreadSanitizer too.
start=$(date +%s)
cmake --build "$build" -j"$jobs"
echo "== ThreadSanitizer build: $(($(date +%s) - start)) s"
# Qt is not instrumented: what its own helper threads (the file dialog's file
# information thread, the platform plugin) allocate and free is left out, while
# every access made by the project's code stays checked. QProcess forks while a
# test's own threads run (the pseudo-terminal bridge); by default ThreadSanitizer
# kills such a child, which here only goes on to exec the program under test.
# The suppressions are read by every instrumented process, including the program a
# test starts as an unprivileged user: they are given from a world-readable copy,
# since the checkout itself may sit in a folder only its owner can enter.
supp=$(mktemp /tmp/vtr-tsan-supp.XXXXXX)
trap 'rm -f "$supp"' EXIT
cp scripts/tsan.supp "$supp"
chmod 644 "$supp"
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 die_after_fork=0 ignore_noninstrumented_modules=1 suppressions=$supp"
status=0
start=$(date +%s)
for a in $areas; do
    t0=$(date +%s)
    if QT_QPA_PLATFORM=offscreen "$build/test_$a"; then
        echo "== ThreadSanitizer: test_$a clean ($(($(date +%s) - t0)) s)"
    else
        echo "== ThreadSanitizer: test_$a FAILED"
        status=1
    fi
done
echo "== ThreadSanitizer runs: $(($(date +%s) - start)) s"
exit $status
