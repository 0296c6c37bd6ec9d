#!/usr/bin/env bash
# kvtool against the paced pty simulators: a full download at 2400 baud and a
# full 7,680-block flash at 57,600 baud, timed from the start of the process
# to its end, with the bounds the window's benchmarks use (download: line time
# + 0.3 s; flash: line time + the protocol's pauses + 1 %).
#   bash benchmarks/kvtool_bench.sh [BUILD_DIR]   (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
cmake --build "$build" -j2 --target kvtool kelvane_sim orva_bootloader_sim >/dev/null
work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$work"' EXIT
now() { date +%s.%N; }
status=0

socat "pty,raw,echo=0,link=$work/app" "pty,raw,echo=0,link=$work/dev" &
pids+=($!)
for _ in $(seq 100); do [[ -e $work/app && -e $work/dev ]] && break; sleep 0.05; done
"$build/sim/kelvane_sim" --port "$work/dev" --paced --baud 2400 >"$work/sim.out" &
pids+=($!)
for _ in $(seq 100); do grep -q ready "$work/sim.out" 2>/dev/null && break; sleep 0.05; done
t0=$(now)
"$build/cli/kvtool" download --port "$work/app" -o "$work/image.kvd" --quiet >/dev/null
t1=$(now)
awk -v t0="$t0" -v t1="$t1" 'BEGIN { s = t1 - t0
  line = (8 + 512 * 34) * 10 / 2400
  printf "download: %.3f s (line time %.3f s, excess %+.3f s) %s\n", s, line, s - line,
         (s - line <= 0.3) ? "WITHIN BOUND" : "OVER BOUND"
  exit (s - line <= 0.3) ? 0 : 1 }' || status=1

head -c 122880 /dev/urandom >"$work/body"
{ printf Orva; cat "$work/body"; } >"$work/fw.dat"
"$build/sim/orva_bootloader_sim" --pty-link "$work/boot" --pace --flash-out "$work/flash.bin" >"$work/boot.out" &
pids+=($!)
for _ in $(seq 100); do grep -q ready "$work/boot.out" 2>/dev/null && break; sleep 0.05; done
t0=$(now)
"$build/cli/kvtool" flash --port "$work/boot" "$work/fw.dat" --quiet --no-backup --trace "$work/flash.trace" >/dev/null
t1=$(now)
sleep 0.2
cmp -s "$work/body" "$work/flash.bin" && same=1 || same=0
awk -v t0="$t0" -v t1="$t1" -v same=$same 'BEGIN { s = t1 - t0
  # the unanswered identity probe first (a quiet line, three reads of 0.9 s): this simulator is the bootloader only
  line = 7680 * 19 * 10 / 57600; probe = (200 + 3 * 900) / 1000
  pauses = (50 + 100 + 2000 + 1000 + 2000) / 1000 + probe; bound = (line + pauses) * 1.01
  ok = s <= bound && same
  printf "flash: %.3f s (line time %.3f s + pauses and probe %.3f s, bound %.3f s), flash %s the file %s\n", s, line, pauses,
         bound, same ? "equals" : "DIFFERS FROM", ok ? "WITHIN BOUND" : "OVER BOUND"
  exit ok ? 0 : 1 }' || status=1
echo "bootloader: $(tail -n 1 "$work/boot.out")"

# Where a block's time goes, from the trace's time stamps (taken as each read
# or write returns): the flash step from the reset's port open to the end
# byte; per block the time between two frames written, split into the far
# end's share (a frame written .. its answer read: the frame's line time, the
# pty's hand-overs both ways, the simulator's wake-up) and the program's own
# (an answer read .. the next frame written). Medians: the machine is shared.
awk '$1 ~ /^[0-9]+$/ {
    t = $1
    if ($2 == "open") opens[++n] = t
    if ($2 == ">" && $3 == 1 && $4 == "58") endbyte = t
    if ($2 == ">" && $3 == 19) { if (w) print "period", t - w; if (r) print "own", t - r; w = t; r = 0 }
    if ($2 == "<" && $3 == 1 && w) { print "far", t - w; r = t }
  }
  END { printf "step %.3f\n", (endbyte - opens[2]) / 1e6 }' "$work/flash.trace" >"$work/split"
median() { awk -v k="$1" '$1 == k { print $2 }' "$work/split" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
awk -v step="$(awk '$1 == "step" { print $2 }' "$work/split")" -v period="$(median period)" -v far="$(median far)" \
    -v own="$(median own)" 'BEGIN { line = 19 * 10 / 57600 * 1e6
  printf "flash step: %.3f s (line %.3f s + pauses 5.150 s); per block, medians: %d us (line %.1f us), far end %d us, kvtool %d us\n",
         step, 7680 * line / 1e6, period, line, far, own }'
exit $status
