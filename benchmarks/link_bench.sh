#!/usr/bin/env bash
# KelvaneMini's link at the controller's real speed: a full download from the
# pty controller simulator paced at 2400 baud 8N1 (line time 72.6 s; the
# download should take at most 0.3 s more), and the longest event-loop stall
# of the window's thread while the worker runs. Pass --upload to time a
# 512-block upload as well (another ~75 s). Needs socat.
# Usage: benchmarks/link_bench.sh [build-folder] [--upload]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELVANE_BENCHMARKS=ON >/dev/null
cmake --build "$build" -j2 --target link_transfer_bench kelvane_sim
work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$work"' EXIT
socat "pty,raw,echo=0,link=$work/app" "pty,raw,echo=0,link=$work/dev" &
pids+=($!)
for _ in $(seq 100); do [[ -e $work/app && -e $work/dev ]] && break; sleep 0.05; done
"$build/sim/kelvane_sim" --port "$work/dev" --paced --baud 2400 >"$work/sim.out" &
pids+=($!)
for _ in $(seq 100); do grep -q ready "$work/sim.out" 2>/dev/null && break; sleep 0.05; done
QT_QPA_PLATFORM=offscreen "$build/benchmarks/link_transfer_bench" "$work/app" "${2:-}"
