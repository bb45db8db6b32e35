#!/bin/bash
# Where the time of a click on Orvix's A key goes, from the recording client's
# XTest button press to the key event reaching it: every system call of the X
# server, Orvix and the recording client (bench_latency) is traced with
# `perf trace` on one clock, and each click is cut into the steps below. Prints
# the median and 90th percentile of each step in microseconds.
#
#   bench/latency/click-breakdown.sh [BUILD_DIR] [CLICKS] [ORVIX]
#
# ORVIX defaults to BUILD_DIR/bin/orvix (pass another build to compare);
# KEEP=1 keeps the work directory with the decoded trace. Needs
# perf (with the right to trace other processes), xvfb, openbox, xdotool and
# python3. Tracing costs each system call a few microseconds, so the steps add
# up to more than bench_latency measures untraced; compare steps, not totals.
set -euo pipefail

build="${1:-build}"
clicks="${2:-200}"
orvix="${3:-$build/bin/orvix}"
bench="$build/bin/bench_latency"
for tool in Xvfb openbox xdotool perf python3; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
[ -x "$orvix" ] && [ -x "$bench" ] || { echo "build orvix and bench_latency in $build first" >&2; exit 1; }

# shellcheck source=session.sh
source "$(dirname "$0")/session.sh"
start_openbox
xdotool mousemove 2 2

"$orvix" >"$work/orvix.log" 2>&1 &
orvix_pid=$!
pids+=($orvix_pid)
panel="$(timeout 20 xdotool search --sync --onlyvisible --pid "$orvix_pid" | head -n1)"
sleep 1 # the fade-in

# The first clicks pass while perf attaches; only whole clicks are counted.
"$bench" --keyboard orvix --window "$panel" --clicks "$clicks" >"$work/bench.out" &
bench_pid=$!
# Recorded now, decoded afterwards: decoding live would compete for the CPUs.
perf trace record -q -o "$work/perf.data" -p "$xvfb_pid,$orvix_pid,$bench_pid" 2>/dev/null &
perf_pid=$!
pids+=($perf_pid)
wait "$bench_pid" || true
kill -INT "$perf_pid" 2>/dev/null || true
wait "$perf_pid" 2>/dev/null || true
perf trace -i "$work/perf.data" >"$work/trace" 2>&1
echo "untraced figures would be lower; bench under trace: $(cat "$work/bench.out")"

python3 - "$work/trace" "$xvfb_pid" "$orvix_pid" "$bench_pid" <<'PY'
import re, statistics, sys
path, xvfb, orvix, bench = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
# "  12.345 ( 0.010 ms): comm/tid syscall(args) = ret"
line_re = re.compile(r'^\s*([\d.]+) \(\s*([\d.]+) ms\): (.+?)/(\d+) (\w+)\((.*)\)\s+= (-?\d+)')
# A blocking call is printed twice; its second line has the duration.
continued_re = re.compile(r'^\s*([\d.]+) \(\s*([\d.]+) ms\): (.+?)/(\d+)\s+\.\.\. \[continued\]: (\w+)\(\)(\))\s+= (-?\d+)')
calls = []
for line in open(path, errors='replace'):
    m = line_re.match(line) or continued_re.match(line)
    if not m:
        continue
    start, dur = float(m[1]) * 1000, float(m[2]) * 1000  # microseconds
    fd = re.search(r'fd: (\d+)', m[6])
    calls.append(dict(start=start, end=start + dur, comm=m[3], tid=int(m[4]), name=m[5],
                      fd=int(fd[1]) if fd else -1, ret=int(m[7])))
calls.sort(key=lambda c: c['start'])
# The process of a thread: orvix's threads are found by the reader thread's
# name; everything else by thread id.
def proc(c):
    if c['tid'] == xvfb: return 'x'
    if c['tid'] == bench: return 'b'
    return 'o'
writes = ('writev', 'sendmsg', 'write')
polls = ('poll', 'ppoll', 'epoll_wait')
steps = {k: [] for k in ('X server delivers the press', 'Orvix wakes up', 'reads the event',
                         'hands it to the key, posts', 'the post (XTest write)',
                         'X server delivers the key', 'recorder wakes and reads', 'total')}
qt_reader_waits = []
waits = [c for c in calls if proc(c) == 'o' and c['name'] in polls]
presses = [i for i, c in enumerate(calls) if proc(c) == 'b' and c['name'] == 'writev' and c['ret'] == 36]
# A button event is one 36-byte write: the release follows the key's arrival
# at once, the press comes after the pause between clicks.
def is_press(i):
    for c in reversed(calls[:i]):
        if proc(c) == 'b' and c['name'] == 'recvmsg' and c['ret'] > 0:
            return calls[i]['start'] - c['end'] > 10000
    return False
for i in (i for i in presses if is_press(i)):
    t0 = calls[i]['end']
    after = calls[i + 1:]
    try:
        got = next(c for c in after if proc(c) == 'b' and c['name'] == 'recvmsg' and c['ret'] >= 32)
        window = [c for c in after if c['start'] < got['end']]
        deliver = next(c for c in window if proc(c) == 'x' and c['name'] in writes)
        # A wait that ends here began long before: search them by their end.
        woke = min((c for c in waits if c['tid'] == orvix and c['end'] > deliver['end']),
                   key=lambda c: c['end'])
        read = next(c for c in window if proc(c) == 'o' and c['tid'] == orvix and c['name'] in ('recvmsg', 'read')
                    and c['start'] >= woke['end'] and c['ret'] > 0)
        post = next(c for c in window if proc(c) == 'o' and c['tid'] == orvix and c['name'] == 'writev'
                    and c['start'] >= read['end'] and c['fd'] != 3)
        key = [c for c in window if proc(c) == 'x' and c['name'] in writes and c['start'] >= post['end']][-1]
    except (StopIteration, IndexError, ValueError):
        continue
    first_orvix = min((c for c in waits if c['end'] > deliver['end']), key=lambda c: c['end'])
    if first_orvix['tid'] != orvix:
        qt_reader_waits.append(woke['end'] - first_orvix['end'])
    for name, value in zip(steps, (deliver['end'] - t0, woke['end'] - deliver['end'], read['end'] - woke['end'],
                                   post['start'] - read['end'], post['end'] - post['start'],
                                   key['end'] - post['end'], got['end'] - key['end'], got['end'] - t0)):
        steps[name].append(value)
n = len(steps['total'])
print(f'{n} clicks traced; microseconds')
print(f'{"step":32} {"median":>8} {"p90":>8}')
for name, values in steps.items():
    if values:
        values.sort()
        print(f'{name:32} {statistics.median(values):8.0f} {values[int(0.9 * (len(values) - 1))]:8.0f}')
if qt_reader_waits:
    qt_reader_waits.sort()
    print(f'{len(qt_reader_waits)} clicks woke another thread of Orvix first; from its wake-up to the '
          f'main thread\'s: median {statistics.median(qt_reader_waits):.0f} us')
PY
