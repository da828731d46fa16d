#!/usr/bin/env bash
# Real-time benchmark of the ARM bootloader path: builds, serves the simulated
# unit with vtr900sim --pace on a pseudo-terminal (every byte takes its line time
# at 115200 8-E-1, both ways), loads generated images of 16, 64 and 256 KiB and
# one of 64 KiB half 0xFF fill with vtr900prog, and prints for the write +
# read-back phase: the bytes each way, their line time, the measured phase time
# and efficiency = line time / phase time, and the program's CPU time and peak
# memory over the whole load. Then it times stm32flash (when installed) writing
# and verifying the same 64 KiB through the same simulated bootloader and prints
# the ratio. Figures to read, not pass/fail.
#
#   bash scripts/bench.sh            (BUILD_DIR: build folder, default build)
#   LATENCY=16 bash scripts/bench.sh (an adapter's latency timer, in ms)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
latency=${LATENCY:-0}
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD} CCACHE_NOHASHDIR=1
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"${JOBS:-2}" --target vtr900prog vtr900sim >/dev/null
work=$(mktemp -d)
trap 'kill $sim_pid 2>/dev/null || true; rm -rf "$work"' EXIT
sim_pid=

# Images: the bundled ARM sample's header and bank 2, bank 1 replaced by N KiB
# of fixed-seed data at 0x08000000 (and the same as raw binary for stm32flash).
python3 - "$work" samples/vtr900_arm_0412.hex <<'EOF'
import random, sys, zlib
work, sample = sys.argv[1], sys.argv[2]
lines = open(sample, newline='').read().split('\r\n')
i2 = [i for i, l in enumerate(lines) if l.startswith(':02000004')][1]
tail = [l for l in lines[i2:] if l]
bank2 = b''.join(bytes.fromhex(l[9:-2]) for l in tail if l[7:9] == '00')
def rec(t, a, d):
    b = [len(d), a >> 8, a & 0xFF, t] + list(d)
    return ':' + ''.join('%02X' % x for x in b) + '%02X' % (-sum(b) & 0xFF)
def write(name, data):
    out = []
    for off in range(0, len(data), 32):
        if off % 0x10000 == 0:
            out.append(rec(4, 0, [0x08, off >> 16]))
        out.append(rec(0, off & 0xFFFF, data[off:off + 32]))
    hdr = [lines[0], '%08X' % zlib.crc32(data), '%08X' % zlib.crc32(bank2), 'HEX']
    open(f'{work}/{name}.hex', 'w', newline='').write('\r\n'.join(hdr + out + tail) + '\r\n')
    open(f'{work}/{name}.bin', 'wb').write(data)
rnd = random.Random(900)
for k in (16, 64, 256):
    write(f'arm{k}k', bytes(rnd.randrange(256) for _ in range(k * 1024)))
half = bytearray(rnd.randrange(256) for _ in range(64 * 1024))
for b in range(0, len(half), 8192):
    half[b + 4096:b + 8192] = b'\xff' * 4096
write('arm64k_half_ff', bytes(half))
EOF

# Prints each line of standard input with the seconds since the start.
cat >"$work/stamp.py" <<'EOF'
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
EOF

start_sim() {
    "$build/vtr900sim" --pace --latency "$latency" arm >"$work/sim.out" 2>"$work/sim.err" &
    sim_pid=$!
    for _ in $(seq 50); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
    pty=$(head -1 "$work/sim.out")
}
stop_sim() { kill "$sim_pid"; wait "$sim_pid" 2>/dev/null || true; sim_pid=; }

# 115200 8-E-1: 11 bits a character. A 256-byte Write Memory block is 2 + 5 +
# 1 + 256 + 1 bytes out and 3 ACKs back; its read-back 2 + 5 + 2 out and 3 ACKs
# and 256 bytes back. The images are whole blocks; those of only 0xFF are not sent
# (no trace is taken: it would cost the program time).
char_us=$(python3 -c 'print(11e6 / 115200)')
printf '%-16s %7s %9s %9s %9s %9s %6s %8s %8s\n' image blocks "out B" "in B" "line s" "phase s" eff "CPU s" "peak MB"
declare -A phase
for img in arm16k arm64k arm256k arm64k_half_ff; do
    start_sim
    /usr/bin/time -f '%U %S %M' -o "$work/$img.time" \
        "$build/vtr900prog" --port "$pty" --file "$work/$img.hex" --lang en | python3 "$work/stamp.py" >"$work/$img.log" || true
    stop_sim
    python3 - "$work" "$img" "$char_us" <<'EOF'
import sys
work, img, char_us = sys.argv[1], sys.argv[2], float(sys.argv[3])
log = [l.split(' ', 1) for l in open(f'{work}/{img}.log')]
written = [float(t) for t, m in log if m.startswith('Written ')]
done = [float(t) for t, m in log if 'internal memory complete' in m]
if not written or not done:
    print(f'{img:16s} load failed: see {work}/{img}.log'); sys.exit()
data = open(f'{work}/{img}.bin', 'rb').read()
sent = sum(1 for o in range(0, len(data), 256) if data[o:o + 256] != b'\xff' * 256)
# The phase starts one block before the first block's message.
step = (written[1] - written[0]) if len(written) > 1 else 0
t = done[0] - (written[0] - step)
out_b, in_b = sent * (265 + 9), sent * (3 + 3 + 256)
line = (out_b + in_b) * char_us / 1e6
u, s, rss = open(f'{work}/{img}.time').read().split()
print('%-16s %7d %9d %9d %9.2f %9.2f %6.3f %8.2f %8.1f' % (
    img, sent, out_b, in_b, line, t, line / t, float(u) + float(s), int(rss) / 1024))
open(f'{work}/{img}.phase', 'w').write('%.3f' % t)
EOF
done

if command -v stm32flash >/dev/null; then
    start_sim
    # A pseudo-terminal keeps no parity setting (stm32flash checks what it set);
    # the pacing is at the unit's 8-E-1 whatever the host asks for.
    t0=$(date +%s.%N)
    stm32flash -b 115200 -m 8n1 -w "$work/arm64k.bin" -v "$pty" >"$work/sf.log" 2>&1
    t1=$(date +%s.%N)
    stop_sim
    python3 - "$t0" "$t1" "$(cat "$work/arm64k.phase" 2>/dev/null || echo 0)" <<'EOF'
import sys
t0, t1, ours = float(sys.argv[1]), float(sys.argv[2]), float(sys.argv[3])
sf = t1 - t0
print(f'stm32flash write + verify of arm64k (init and page erase included): {sf:.2f} s')
if ours:
    print(f'ratio: our write + read-back / stm32flash = {ours / sf:.3f}')
EOF
else
    echo "stm32flash is not installed: no comparison (scripts/install-deps.sh installs it)"
fi
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs), load $(cut -d' ' -f1-3 /proc/loadavg)"
