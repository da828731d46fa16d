#!/usr/bin/env bash
# Installs, builds and runs the whole test suite; then the threaded tests again
# under ThreadSanitizer (skip that pass with VTR_SKIP_TSAN=1).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
log=$(mktemp)
trap 'rm -f "$log"' EXIT
(cd build && ctest --output-on-failure) | tee "$log"
if [ "${VTR_SKIP_TSAN:-0}" != "1" ]; then
    bash scripts/tsan.sh
fi
# One closing line for whoever reads the run: the test programs' count from CTest.
summary=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
failed=$(echo "$summary" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/')
total=$(echo "$summary" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/')
echo "programs: $((total - failed)) passed, $failed failed"
