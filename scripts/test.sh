#!/usr/bin/env bash
# Installs, builds and runs the whole test suite; then the threaded tests again
# under ThreadSanitizer (skip that pass with VTR_SKIP_TSAN=1).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
(cd build && ctest --output-on-failure)
if [ "${VTR_SKIP_TSAN:-0}" != "1" ]; then
    bash scripts/tsan.sh
fi
