#!/usr/bin/env bash
# Saves pictures of KelvaneMini's six pages, in Polish and filled with the
# sample building's configuration, as resources/screenshots/page0.png ..
# page5.png (800 x 600, menu bar and status bar included). The window is drawn
# offscreen, so no display is needed.
# Usage: scripts/screenshots.sh [build-folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j2 --target kelvane_page_pictures
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
chmod 700 "$XDG_RUNTIME_DIR"
QT_QPA_PLATFORM=offscreen "$build/shell/kelvane_page_pictures" "$root/resources/screenshots"
