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
bash "$root/scripts/deps.sh" run
# The tests are configured only when GoogleTest is there (scripts/test.sh
# installs it); a build folder that already has them keeps them.
tests=OFF
dpkg-query -W -f='${Status}' libgtest-dev 2>/dev/null | grep -q "install ok installed" && tests=ON
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVANE_TESTS=$tests >/dev/null
cmake --build "$root/build" --target "$program"
folder=shell
[ "$program" = Orva_Upgrade ] && folder=orva
exec "$root/build/$folder/$program" "$@"
