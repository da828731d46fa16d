#!/usr/bin/env bash
# Installs, builds (warnings are errors) and runs the whole test suite; then the
# whole suite again under ThreadSanitizer (skip that pass with VTR_SKIP_TSAN=1) and
# under AddressSanitizer and UndefinedBehaviorSanitizer (skip it with
# VTR_SKIP_ASAN=1).
# Ends with one line, "programs: N passed, M failed", and exits non-zero when a
# test program or a sanitizer pass failed.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh || exit 1
if ! VTR_WERROR=1 bash scripts/build.sh; then
    echo "build failed: no test program ran"
    exit 1
fi
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
(cd build && ctest --output-on-failure) | tee "$log" || status=1
if [ "${VTR_SKIP_TSAN:-0}" != "1" ]; then
    bash scripts/tsan.sh || status=1
fi
if [ "${VTR_SKIP_ASAN:-0}" != "1" ]; then
    bash scripts/asan.sh || status=1
fi
# The test programs' count, from CTest's line per program ("1/10 Test #1: arm ...
# Passed"); a program that failed, timed out or crashed counts as failed.
passed=$(grep -cE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed' "$log")
ran=$(grep -cE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: ' "$log")
failed=$((ran - passed))
[ "$failed" -gt 0 ] && status=1
echo "programs: $passed passed, $failed failed"
exit $status
