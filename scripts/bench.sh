#!/usr/bin/env bash
# Real-time benchmark of every load path. Builds, serves the simulated unit with
# vtr900sim --pace on a pseudo-terminal (every byte takes its line time at the
# unit's current format, both ways) and loads generated files with vtr900prog:
#   arm  ARM unit images, bank 1 of 16, 64 and 256 KiB, plus one of 64 KiB half
#        0xFF fill: the bootloader's Write Memory and read-back (115200 8-E-1)
#   xa   XA unit images, bank 1 of 16 and 64 KiB (its flash holds 64 KiB): the
#        loader's records, each echoed and acknowledged (9600 8-N-1)
#   hex  module Intel HEX files of 16, 64 and 256 KiB: framed packets (19200 8-N-1)
#   bin  module BIN files of 16, 64 and 256 KiB: framed packets (19200 8-N-1)
# and the ARM 64 KiB image once more with a USB adapter's 16 ms latency timer
# modelled (vtr900sim --latency 16: low-latency mode refused). For each load,
# the phase that carries the image: bytes each way as the companion counted them
# on the wire (its --wire-log), the wire's busy time (each character's start,
# data, parity and stop bits; where the unit echoes, both directions at once
# count once), the phase time measured on the wire from its first byte to its
# last, efficiency = busy / phase, and for the whole load the program's elapsed
# time, CPU time, CPU share and peak memory. Then it times stm32flash (when
# installed) writing and verifying the same 64 KiB through the same simulated
# bootloader, measured on the wire the same way, and prints the ratio. Figures
# to read, not pass/fail.
#
#   bash scripts/bench.sh              (the whole run: about 25 minutes)
#   SIZES="16" PATHS="arm hex" bash scripts/bench.sh   (a part of it)
#   LATENCY=0 ...                      (no latency-timer row)
#   BUILD_DIR=... (default build), KEEP=1 keeps the logs (their folder is printed)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
sizes=${SIZES:-16 64 256}
paths=${PATHS:-arm xa hex bin}
latency=${LATENCY:-16}
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD} CCACHE_NOHASHDIR=1
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"${JOBS:-2}" --target vtr900prog vtr900sim >/dev/null
work=$(mktemp -d)
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
    if [ -n "${KEEP:-}" ]; then echo "logs kept in $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

# The files. ARM: the bundled sample's header and bank 2, bank 1 replaced by N KiB
# of fixed-seed data at 0x08000000 (also as raw binary for stm32flash). XA: the
# same from its sample, bank 1 at 0x0000. Modules: N KiB of data as Intel HEX
# records or as a BIN file after the four header lines.
python3 - "$work" "$sizes" <<'EOF'
import random, sys, zlib
work, sizes = sys.argv[1], [int(s) for s in sys.argv[2].split()]
def rec(t, a, d):
    b = [len(d), a >> 8, a & 0xFF, t] + list(d)
    return ':' + ''.join('%02X' % x for x in b) + '%02X' % (-sum(b) & 0xFF)
def records(data, upper, width):
    out = []
    for off in range(0, len(data), width):
        if off % 0x10000 == 0:
            out.append(rec(4, 0, [upper >> 8, (upper + (off >> 16)) & 0xFF]))
        out.append(rec(0, off & 0xFFFF, data[off:off + width]))
    return out
def unit(sample, name, data, upper, width):
    lines = open(sample, newline='').read().split('\r\n')
    i2 = [i for i, l in enumerate(lines) if l.startswith(':02000004')][1]
    tail = [l for l in lines[i2:] if l]
    bank2 = b''.join(bytes.fromhex(l[9:-2]) for l in tail if l[7:9] == '00')
    hdr = [lines[0], '%08X' % zlib.crc32(data), '%08X' % zlib.crc32(bank2), 'HEX']
    body = records(data, upper, width) + tail
    open(f'{work}/{name}.hex', 'w', newline='').write('\r\n'.join(hdr + body) + '\r\n')
    open(f'{work}/{name}.bin', 'wb').write(data)
def module(name, data):
    body = records(data, 0, 16) + [':00000001FF']
    text = '\r\n'.join(body) + '\r\n'
    hdr = 'FIRMXYZ-100 0102\r\n%08X\r\n00000000\r\n' % zlib.crc32(text.encode())
    open(f'{work}/{name}_mod.hex', 'w', newline='').write(hdr + 'HEX\r\n' + text)
    open(f'{work}/{name}_mod.bin', 'wb').write((hdr + 'BIN\r\n').encode() + data)
rnd = random.Random(900)
def data(k):
    return bytes(rnd.randrange(256) for _ in range(k * 1024))
for k in sorted(set(sizes) | {64}):
    unit('samples/vtr900_arm_0412.hex', f'arm{k}k', data(k), 0x0800, 32)
    if k <= 64:
        unit('samples/vtr900_xa_0310.hex', f'xa{k}k', data(k), 0x0000, 16)
    module(f'{k}k', data(k))
half = bytearray(data(64))
for b in range(0, len(half), 8192):
    half[b + 4096:b + 8192] = b'\xff' * 4096
unit('samples/vtr900_arm_0412.hex', 'arm64k_half_ff', bytes(half), 0x0800, 32)
EOF

# The phase of a load on the companion's wire log (see vtr900sim --help), printed
# as one row: path, file, out B, in B, busy s, phase s, efficiency, turnarounds
# (the unit answered, the program sends again) with their median and mean idle
# time on the wire in microseconds, the unit's own time (from the end of a
# request to its answer) and the efficiency without it (eff' = busy / (phase -
# unit)); and the phase time alone in FILE.phase.
cat >"$work/phase.py" <<'EOF'
import sys
log, path, name, out = sys.argv[1:5]
runs = []
for l in open(log):
    d, n, bits, baud, fh, fe, lh, le, *head = l.split()
    c = int(bits) * 1e6 / int(baud)
    runs.append(dict(h=d == 'H', n=int(n), c=c, start=int(fe) - c, end=int(le),
                     head=bytes.fromhex(head[0]) if head else b''))
runs.sort(key=lambda r: r['start'])
hosts = [i for i, r in enumerate(runs) if r['h']]
def frame_sub(b):
    # The first data byte of a frame (0xA5 ctl ext addr addr len sub ...), its
    # doubled 0xA5 bytes undone.
    if not b or b[0] != 0xA5:
        return None
    u, i = [], 1
    while i < len(b):
        u.append(b[i])
        i += 2 if b[i] == 0xA5 and i + 1 < len(b) and b[i + 1] == 0xA5 else 1
    return u[5] if len(u) > 5 else None
def until_next_host(i):
    # The index past the unit's answer to host run i: up to the next host run.
    j = i + 1
    while j < len(runs) and not runs[j]['h']:
        j += 1
    return j
if path == 'arm':
    # From the first Write Memory command to the last byte before the DTR reset
    # (the first silence of over 0.3 s).
    first = next(i for i in hosts if runs[i]['head'].startswith(b'\x31\xce'))
    last, end = first, runs[first]['end']
    while last + 1 < len(runs) and runs[last + 1]['start'] - end < 300000:
        last += 1
        end = max(end, runs[last]['end'])
    sel = range(first, last + 1)
else:
    if path == 'xa':  # data records: ':', count, address, type 00
        pick = [i for i in hosts if runs[i]['head'][:1] == b':' and runs[i]['head'][7:9] == b'00']
    else:  # framed transfer packets
        pick = [i for i in hosts if frame_sub(runs[i]['head']) == 0x81]
    if not pick:
        print(f'{path:4s} {name:16s} no phase found in {log}')
        sys.exit()
    sel = range(pick[0], until_next_host(pick[-1]))
ph = [runs[i] for i in sel]
t0, t1 = ph[0]['start'], max(r['end'] for r in ph)
out_b = sum(r['n'] for r in ph if r['h'])
in_b = sum(r['n'] for r in ph if not r['h'])
busy, cur_s, cur_e = 0.0, None, None  # union of the runs' intervals
for s, e in sorted((r['start'], r['end']) for r in ph):
    if cur_e is None or s > cur_e:
        if cur_e is not None:
            busy += cur_e - cur_s
        cur_s, cur_e = s, e
    else:
        cur_e = max(cur_e, e)
busy += cur_e - cur_s
t = (t1 - t0) / 1e6
# Turnarounds: from the end of the unit's answer to the program's next byte on
# the wire; their median and mean idle time.
# The unit's own time: from the end of a request to the first byte of its answer.
idle, last_unit, last_host, unit_t = [], None, None, 0.0
for r in ph:
    if not r['h']:
        if last_host is not None:
            unit_t += max(0.0, r['start'] - last_host)
            last_host = None
        last_unit = r['end'] if last_unit is None else max(last_unit, r['end'])
    else:
        if last_unit is not None:
            idle.append(max(0.0, r['start'] - last_unit))
            last_unit = None
        last_host = r['end'] if last_host is None else max(last_host, r['end'])
idle.sort()
med = idle[len(idle) // 2] if idle else 0
mean = sum(idle) / len(idle) if idle else 0
print(f'{path:4s} {name:16s} {out_b:8d} {in_b:8d} {busy / 1e6:8.2f} {t:8.2f} {busy / 1e6 / t:6.3f} '
      f'{len(idle):6d} {med:5.0f} {mean:6.0f} {unit_t / 1e6:6.2f} {busy / (t1 - t0 - unit_t):6.3f}',
      end='')
open(out + '.phase', 'w').write('%.4f' % t)
EOF

start_sim() { # kind, wire log, latency
    rm -f "$work/sim.out"
    "$build/vtr900sim" --pace --latency "$3" --wire-log "$2" "$1" >"$work/sim.out" 2>"$work/sim.err" &
    sim_pid=$!
    for _ in $(seq 50); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
    pty=$(head -1 "$work/sim.out")
}
stop_sim() { kill "$sim_pid"; wait "$sim_pid" 2>/dev/null || true; sim_pid=; }

load() { # path, kind, file, label, latency
    local path=$1 kind=$2 file=$3 label=$4 lat=${5:-0}
    start_sim "$kind" "$work/$label.wire" "$lat"
    local rc=0
    /usr/bin/time -f '%e %U %S %M' -o "$work/$label.time" \
        "$build/vtr900prog" --port "$pty" --file "$file" --lang en >"$work/$label.log" 2>&1 || rc=$?
    stop_sim
    if [ "$rc" != 0 ]; then
        printf '%-4s %-16s load failed (exit %s): %s\n' "$path" "$label" "$rc" "$(tail -1 "$work/$label.log")"
        return
    fi
    python3 "$work/phase.py" "$work/$label.wire" "$path" "$label" "$work/$label"
    read -r e u s m <"$work/$label.time"
    python3 -c "import sys; e,u,s,m=map(float,sys.argv[1:]); print(' %7.1f %6.2f %6.2f%% %7.1f' % (e, u+s, 100*(u+s)/e, m/1024))" "$e" "$u" "$s" "$m"
}

printf '%-4s %-16s %8s %8s %8s %8s %6s %6s %5s %6s %6s %6s %7s %6s %7s %7s\n' path file "out B" "in B" \
    "busy s" "phase s" eff turns "med" "mean" "unit s" "eff'" "load s" "CPU s" "CPU %" "peak MB"
for p in $paths; do
    for k in $sizes; do
        case $p in
        arm) load arm arm "$work/arm${k}k.hex" "arm${k}k" ;;
        xa) [ "$k" -le 64 ] && load xa xa "$work/xa${k}k.hex" "xa${k}k" ;;
        hex) load hex arm "$work/${k}k_mod.hex" "mod${k}k.hex" ;;
        bin) load bin arm "$work/${k}k_mod.bin" "mod${k}k.bin" ;;
        esac
    done
    if [ "$p" = arm ]; then
        load arm arm "$work/arm64k_half_ff.hex" arm64k_half_ff
        [ "$latency" != 0 ] && load arm arm "$work/arm64k.hex" "arm64k_lat${latency}ms" "$latency"
    fi
done

if command -v stm32flash >/dev/null && [[ " $paths " == *" arm "* ]]; then
    start_sim arm "$work/sf.wire" 0
    # A pseudo-terminal keeps no parity setting (stm32flash checks what it set);
    # the pacing is at the unit's 8-E-1 whatever the host asks for.
    t0=$(date +%s.%N)
    stm32flash -b 115200 -m 8n1 -w "$work/arm64k.bin" -v "$pty" >"$work/sf.log" 2>&1
    t1=$(date +%s.%N)
    stop_sim
    python3 "$work/phase.py" "$work/sf.wire" arm stm32flash_64k "$work/sf"
    echo
    python3 - "$t0" "$t1" "$work/sf.phase" "$work/arm64k.phase" <<'EOF'
import os, sys
t0, t1 = float(sys.argv[1]), float(sys.argv[2])
sf = float(open(sys.argv[3]).read())
print(f'stm32flash: write + verify of arm64k {sf:.2f} s on the wire, {t1 - t0:.2f} s in all '
      '(start and page erase included)')
if os.path.exists(sys.argv[4]):
    ours = float(open(sys.argv[4]).read())
    print(f'ratio: our write + read-back / its write + verify = {ours / sf:.3f} '
          f'(/ its whole run {ours / (t1 - t0):.3f})')
EOF
elif [[ " $paths " == *" arm "* ]]; then
    echo "stm32flash is not installed: no comparison (scripts/install-deps.sh installs it)"
fi
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs), load $(cut -d' ' -f1-3 /proc/loadavg)"
