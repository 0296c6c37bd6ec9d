#!/usr/bin/env bash
# Builds one program and starts it: KelvaneMini (the default) or Orva_Upgrade.
# Only that program and what it needs are built; scripts/test.sh builds the rest.
# Usage: scripts/run.sh [KelvaneMini|Orva_Upgrade] [arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
program=KelvaneMini
case "${1:-}" in
  KelvaneMini|Orva_Upgrade) program=$1; shift ;;
esac
bash "$root/scripts/deps.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" --target "$program"
folder=shell
[ "$program" = Orva_Upgrade ] && folder=upgrade
exec "$root/build/$folder/$program" "$@"
