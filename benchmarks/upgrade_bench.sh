#!/usr/bin/env bash
# Times a whole firmware upgrade (7,680 blocks) over a pty against the
# bootloader simulator paced at 57,600 baud and answering at once, then once
# more unpaced to show what the pty's round trip alone costs per frame, then
# paced with every answer held as a USB-serial adapter holds it: 16 ms (the
# usual default latency timer) and 1 ms (low latency). Real time, about four
# minutes in all. Build folder as the first argument (default build-bench).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELVANE_BENCHMARKS=ON >/dev/null
cmake --build "$build" -j2 --target upgrade_benchmark orva_bootloader_sim
work=$(mktemp -d)
sim=
trap '[ -n "$sim" ] && kill "$sim" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT

run() {  # run <label> <latency ms> [simulator options...]
  local label=$1 latency=$2
  shift 2
  rm -f "$work/sim.out"
  "$build/sim/orva_bootloader_sim" --pty-link "$work/line" --latency-ms "$latency" "$@" >"$work/sim.out" &
  sim=$!
  for _ in $(seq 100); do grep -q ready "$work/sim.out" 2>/dev/null && break; sleep 0.05; done
  echo "== $label =="
  local status=0
  "$build/benchmarks/upgrade_benchmark" "$work/line" "$latency" || status=$?
  wait "$sim" || true
  sim=
  echo "simulator: $(tail -n 1 "$work/sim.out")"
  return $status
}

status=0
run "paced at 57,600 baud" 0 --pace || status=$?
run "unpaced (pty round trip only; its bound verdict does not apply)" 0 || true
run "paced, answers held 16 ms (an adapter's default latency timer)" 16 --pace || status=$?
run "paced, answers held 1 ms (an adapter in low latency)" 1 --pace || status=$?
exit $status
