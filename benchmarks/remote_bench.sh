#!/usr/bin/env bash
# Remote service at the controller's real speed: kvtool's download and a
# 16-block upload (with its read of the controller and the merge) through
# ser2net at 0, 50 and 150 ms one-way delay, against the same over the pty,
# with the pty controller simulator paced at 2400 baud (a download's line time
# is 72.6 s). Prints each time, its overhead and the round trips the protocol
# waited for. About ten minutes. Needs socat and ser2net.
# Usage: benchmarks/remote_bench.sh [build-folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELVANE_BENCHMARKS=ON >/dev/null
cmake --build "$build" -j2 --target remote_bench kvtool kelvane_sim
"$build/benchmarks/remote_bench" "$build/cli/kvtool" "$build/sim/kelvane_sim"
