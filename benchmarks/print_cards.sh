#!/usr/bin/env bash
# Times printing 510 resident cards (51 sheets) to PDF. Build folder as the
# first argument (default build-bench); further arguments go to the benchmark.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
shift || true
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKELVANE_BENCHMARKS=ON >/dev/null
cmake --build "$build" -j2 --target print_cards_benchmark
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
chmod 700 "$XDG_RUNTIME_DIR"
QT_QPA_PLATFORM=offscreen "$build/benchmarks/print_cards_benchmark" "$@"
