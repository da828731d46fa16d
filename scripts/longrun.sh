#!/usr/bin/env bash
# Long run: N headless loads in a row against one simulated unit served by
# vtr900sim on a pseudo-terminal, as a bench would run them against one unit.
# Prints per load the result, the exit code, the wall time, the program's CPU time
# and peak memory, and the companion's resident memory after the load; then a
# summary: loads that ended OK, time spread, and how the program's peak and the
# companion's memory moved from the first load to the last (drift shows there).
# Exits 1 when any load did not end OK.
#
#   bash scripts/longrun.sh [N]          N loads (default 10) of the ARM sample
#   KIND=xa bash scripts/longrun.sh 20   the XA unit and its sample
#   FILE=fw.hex PACE=1 bash scripts/longrun.sh 100
#                                        another firmware; bytes at their line time
# BUILD_DIR names the build folder (default build). A load takes the unit's
# prescribed waits (about half a minute): 100 loads take about an hour.
set -euo pipefail
cd "$(dirname "$0")/.."
loads=${1:-10}
build=${BUILD_DIR:-build}
kind=${KIND:-arm}
case "$kind" in
arm) file=${FILE:-samples/vtr900_arm_0412.hex} ;;
xa) file=${FILE:-samples/vtr900_xa_0310.hex} ;;
*)
    echo "KIND must be arm or xa" >&2
    exit 2
    ;;
esac
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD} CCACHE_NOHASHDIR=1
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"${JOBS:-2}" --target vtr900prog vtr900sim >/dev/null

work=$(mktemp -d)
sim_pid=
trap 'if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; fi; rm -rf "$work"' EXIT
pace=()
[ "${PACE:-0}" = 1 ] && pace=(--pace)
"$build/vtr900sim" "${pace[@]}" "$kind" >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 50); do
    [ -s "$work/sim.out" ] && break
    sleep 0.1
done
pty=$(head -1 "$work/sim.out")
if [ -z "$pty" ]; then
    echo "vtr900sim did not start:" >&2
    cat "$work/sim.err" >&2
    exit 1
fi

rss_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }

echo "$loads loads of $file into a simulated $kind unit on $pty"
echo "companion memory at start: $(rss_kb "$sim_pid") KB"
printf '%5s  %-4s %4s %8s %7s %8s %12s  %s\n' load res exit "wall s" "CPU s" "peak MB" "companion KB" "last line"
failed=0
for i in $(seq "$loads"); do
    rc=0
    /usr/bin/time -f '%e %U %S %M' -o "$work/time" \
        "$build/vtr900prog" --port "$pty" --file "$file" --lang en >"$work/out" 2>&1 || rc=$?
    read -r wall user sys peak <"$work/time" || true
    last=$(grep -v '^[[:space:]]*$' "$work/out" | tail -n 1 || true)
    res=OK
    if [ "$rc" -ne 0 ]; then
        res=FAIL
        failed=$((failed + 1))
        cp "$work/out" "/tmp/longrun-load-$i.log"
        last="$last (output kept in /tmp/longrun-load-$i.log)"
    fi
    cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN {printf "%.2f", u + s}')
    printf '%5d  %-4s %4d %8s %7s %8.1f %12s  %s\n' "$i" "$res" "$rc" "$wall" "$cpu" \
        "$(awk -v k="$peak" 'BEGIN {print k / 1024}')" "$(rss_kb "$sim_pid")" "$last"
    echo "$wall $peak $(rss_kb "$sim_pid")" >>"$work/figures"
done

python3 - "$work/figures" "$loads" "$failed" <<'EOF'
import statistics, sys
rows = [l.split() for l in open(sys.argv[1])]
loads, failed = int(sys.argv[2]), int(sys.argv[3])
wall = [float(r[0]) for r in rows]
peak = [int(r[1]) / 1024 for r in rows]
comp = [int(r[2]) for r in rows]
print(f'\n{loads - failed} of {loads} loads ended OK')
print(f'wall time: min {min(wall):.2f} s, median {statistics.median(wall):.2f} s, max {max(wall):.2f} s')
print(f'program peak memory: first {peak[0]:.1f} MB, last {peak[-1]:.1f} MB, max {max(peak):.1f} MB')
per_load = (comp[-1] - comp[0]) / (len(comp) - 1) if len(comp) > 1 else 0
print(f'companion memory: after load 1 {comp[0]} KB, after load {len(comp)} {comp[-1]} KB '
      f'({per_load:+.1f} KB a load)')
EOF
[ "$failed" -eq 0 ]
