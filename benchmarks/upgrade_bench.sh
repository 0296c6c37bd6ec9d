#!/usr/bin/env bash
# Times a whole firmware upgrade (7,680 blocks) over a pty against the
# bootloader simulator paced at 57,600 baud and answering at once. Build folder
# as the first argument (default build-bench).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELVANE_BENCHMARKS=ON >/dev/null
cmake --build "$build" -j2 --target upgrade_benchmark orva_bootloader_sim
work=$(mktemp -d)
trap 'kill "$sim" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT
"$build/sim/orva_bootloader_sim" --pty-link "$work/line" --pace --flash-out "$work/flash.bin" >"$work/sim.out" &
sim=$!
for _ in $(seq 100); do grep -q ready "$work/sim.out" 2>/dev/null && break; sleep 0.05; done
status=0
"$build/tests/upgrade/upgrade_benchmark" "$work/line" || status=$?
wait "$sim" || true
echo "simulator: $(tail -n 1 "$work/sim.out")"
exit $status
