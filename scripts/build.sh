#!/usr/bin/env bash
# Configures and builds into build/ (the program lands at build/vtr900prog).
# Warnings are errors when CI is set (any value) or VTR_WERROR=1.
set -euo pipefail
cd "$(dirname "$0")/.."
werror=OFF
if [ -n "${CI:-}" ] || [ "${VTR_WERROR:-0}" = "1" ]; then
    werror=ON
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVTR_WERROR="$werror" >/dev/null
cmake --build build -j"$(nproc)"
