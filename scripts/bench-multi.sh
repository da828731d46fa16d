#!/usr/bin/env bash
# Real-time benchmark of several units loaded at once: serves UNITS simulated ARM
# units (default 8) with vtr900sim --pace, each on its own pseudo-terminal (every
# byte takes its line time, both ways), loads FILE (default the ARM sample) into
# each unit alone, one after the other, then into all of them with one vtr900prog
# command, and prints per unit: the solo load time, the load time among the others
# and their ratio; then the program's CPU (percent of one core over the run) and
# peak memory for the run of all units, and its summary table. Figures to read,
# not pass/fail: the companions share the machine's cores with the program.
#
#   bash scripts/bench-multi.sh                 (BUILD_DIR: build folder, default build)
#   UNITS=4 FILE=samples/vtr900_joint.hex bash scripts/bench-multi.sh
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
units=${UNITS:-8}
fw=${FILE:-samples/vtr900_arm_0412.hex}
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD} CCACHE_NOHASHDIR=1
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"${JOBS:-2}" --target vtr900prog vtr900sim >/dev/null
[ -x /usr/bin/time ] || { echo "bench-multi: /usr/bin/time (GNU time) is needed" >&2; exit 2; }
work=$(mktemp -d)
sims=()
cleanup() {
    for p in "${sims[@]}"; do kill "$p" 2>/dev/null || true; done
    for p in "${sims[@]}"; do wait "$p" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# Prints each line of standard input with the seconds since the start.
cat >"$work/stamp.py" <<'PY'
import os, sys, time
t0, buf = time.monotonic(), b''
while True:
    c = os.read(0, 4096)
    if not c:
        break
    buf += c
    while True:
        cut = [i for i in (buf.find(b'\r'), buf.find(b'\n')) if i >= 0]
        if not cut:
            break
        line, buf = buf[:min(cut)].decode(errors='replace'), buf[min(cut) + 1:]
        if line.strip():
            print('%.4f %s' % (time.monotonic() - t0, line), flush=True)
PY

ptys=()
for i in $(seq "$units"); do
    "$build/vtr900sim" --pace arm >"$work/sim$i.out" 2>"$work/sim$i.err" &
    sims+=($!)
    for _ in $(seq 50); do [ -s "$work/sim$i.out" ] && break; sleep 0.1; done
    ptys+=("$(head -1 "$work/sim$i.out")")
done

# Each unit alone: the time from the program's start to its result line.
for i in $(seq "$units"); do
    p=${ptys[$((i - 1))]}
    "$build/vtr900prog" --port "$p" --file "$fw" --lang en 2>&1 |
        python3 "$work/stamp.py" >"$work/solo$i.txt" || true
    echo "solo $p: $(tail -1 "$work/solo$i.txt")"
done

# All units in one command: each unit's result line, prefixed with its port.
args=()
for p in "${ptys[@]}"; do args+=(--port "$p"); done
/usr/bin/time -v -o "$work/time.txt" "$build/vtr900prog" "${args[@]}" --file "$fw" --lang en \
    2>&1 | python3 "$work/stamp.py" >"$work/all.txt" || true

python3 - "$work" "$units" "${ptys[@]}" <<'PY'
import re, sys
work, units, ptys = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
def result_time(lines, prefix=''):
    for l in lines:
        t, _, text = l.partition(' ')
        if text.startswith(prefix) and re.search(r'(OK: Update completed|Error)', text):
            return float(t), text[len(prefix):]
    return None, None
allr = open(f'{work}/all.txt').read().splitlines()
print('\nunit            solo s   among %d s   ratio  result' % units)
worst = 0.0
for i, p in enumerate(ptys, 1):
    solo, _ = result_time(open(f'{work}/solo{i}.txt').read().splitlines())
    among, text = result_time(allr, p + ': ')
    ratio = among / solo if solo and among else float('nan')
    worst = max(worst, ratio)
    print('%-14s %7.2f   %10.2f   %5.3f  %s' % (p, solo or 0, among or 0, ratio, text))
t = open(f'{work}/time.txt').read()
def field(name):
    return re.search(re.escape(name) + r': (.*)', t).group(1).strip()
user, sys_ = float(field('User time (seconds)')), float(field('System time (seconds)'))
wall = field('Elapsed (wall clock) time (h:mm:ss or m:ss)').split(':')
elapsed = sum(float(x) * 60 ** k for k, x in enumerate(reversed(wall)))
rss = int(field('Maximum resident set size (kbytes)'))
print('\nworst ratio %.3f (target <= 1.05)' % worst)
print('CPU %.2f s user + %.2f s system over %.1f s: %.1f %% of one core (target < 5 %%)'
      % (user, sys_, elapsed, 100 * (user + sys_) / elapsed))
print('peak memory %.1f MB (target < 60 MB)' % (rss / 1024))
print('\nsummary table of the run of all units:')
tail = [l.partition(' ')[2] for l in allr]
print('\n'.join(tail[next(i for i, l in enumerate(tail) if l.startswith('PORT')):]))
PY
