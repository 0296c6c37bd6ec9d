#!/usr/bin/env bash
# Runs the fault campaign: seeded runs of the programs' probe, transfers and
# firmware upgrade through a faulty line in virtual time, every run checked
# against the invariants (campaign/campaign.h). Prints runs per second, the
# tallies of every invariant and each failing seed with its replay command.
#   scripts/campaign.sh [seeds] [campaign options...]
# Defaults: 10,000,000 seeds from 1 on as many jobs as there are cores
# (JOBS=n to choose). Builds build/campaign/campaign first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
seeds=${1:-10000000}
shift || true
if [ ! -f "$root/build/build.ninja" ]; then
  cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$root/build" --target campaign
exec "$root/build/campaign/campaign" --seeds "$seeds" --jobs "${JOBS:-$(nproc)}" "$@"
