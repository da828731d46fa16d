#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang (build-fuzz/) and runs each
# for SECONDS (default 60) from a seed corpus made of samples/ (the writers' target:
# bank 1 of the sample unit images and the tests' images, tests/fuzz/semillas/); ends
# at the first finding (its input is left in the target's findings folder) with a
# non-zero exit.
#   bash scripts/fuzz.sh          60 s each (what CI runs)
#   bash scripts/fuzz.sh 600      10 minutes each
#   bash scripts/fuzz.sh 600 fuzz_grabadores   one target
# FUZZ_BUILD_DIR names the build folder, JOBS the parallel compile jobs (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-60}
build=${FUZZ_BUILD_DIR:-build-fuzz}
targets=(fuzz_intel_hex fuzz_seleccion fuzz_tramas fuzz_grabadores)
if [ $# -gt 1 ]; then
    targets=("${@:2}")
fi
CC=clang CXX=clang++ cmake -S . -B "$build" -DVTR_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"${JOBS:-2}" --target "${targets[@]}"
# Bank 1 of a sample unit image: its records up to the second extended address, and
# the end record.
bank1() {
    awk '/^:/ {p = 1} /^:02000004/ {if (++n == 2) exit} p {print} END {print ":00000001FF"}' "$1"
}
seeds_of() {
    if [ "$1" = fuzz_grabadores ]; then
        # Two choice bytes (controller, fault; the fault's number), then the image.
        { printf '\x00\x00'; bank1 samples/vtr900_arm_0412.hex; } >"$2/arm_sample"
        { printf '\x01\x00'; bank1 samples/vtr900_xa_0310.hex; } >"$2/xa_sample"
        cp tests/fuzz/semillas/fuzz_grabadores/* "$2/"
    else
        cp samples/* "$2/"
    fi
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for t in "${targets[@]}"; do
    # The seeds are copied: what the fuzzer adds to its corpus stays out of the tree.
    mkdir -p "$work/$t/corpus" "$build/findings/$t"
    seeds_of "$t" "$work/$t/corpus"
    echo "== $t: ${secs} s"
    if ! QT_QPA_PLATFORM=offscreen "$build/$t" -max_total_time="$secs" -max_len=8192 \
        -print_final_stats=1 -artifact_prefix="$build/findings/$t/" "$work/$t/corpus" \
        >"$work/$t.log" 2>&1; then
        status=1
        tail -n 40 "$work/$t.log"
    fi
    grep -E '^(#[0-9]+.*(DONE|pulse)|stat::number_of_executed_units|Done )' "$work/$t.log" | tail -n 3
done
exit $status
