#!/usr/bin/env bash
# Renders every page of the window (Update before and after a load, the image choice
# of a joint file, Monitor, About) and the Update page in each of the four languages
# (update_fr/es/en/it.png) to docs/screenshots/*.png, on the offscreen platform
# against the built-in simulated units in simulated time.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j2 --target test_window
mkdir -p "$root/docs/screenshots"
QT_QPA_PLATFORM=offscreen VTR_SCREENSHOT_DIR="$root/docs/screenshots" \
    "$build/test_window" --gtest_filter='Pictures.*'
ls -1 "$root/docs/screenshots"
