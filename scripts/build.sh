#!/usr/bin/env bash
# Configures and builds the programs and tests into build/ (Release with debug info).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# Cached objects are shared by every clone on this machine.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
bash "$root/scripts/deps.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVANE_TESTS=ON "$@" >/dev/null
cmake --build "$root/build"
