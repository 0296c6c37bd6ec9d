#!/usr/bin/env bash
# Builds KelvaneMini and starts it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/build.sh"
exe="$root/build/shell/KelvaneMini"
if [ ! -x "$exe" ]; then
  echo "KelvaneMini is not built yet; the libraries and tests were built." >&2
  exit 0
fi
exec "$exe" "$@"
