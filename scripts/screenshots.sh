#!/usr/bin/env bash
# Saves pictures of KelvaneMini's six pages, in Polish and filled with the
# sample building's configuration, as resources/screenshots/page0.png ..
# page5.png (800 x 600, menu bar and status bar included). The window is drawn
# offscreen, so no display is needed. Also the upload question with changes
# made at the controller, scalanie.png, the building register's window and
# wrong-building warning, rejestr.png and inny_budynek.png, and the flat
# actions' menu, the lost key's box and a visit report, przeprowadzki.png,
# nowy_klucz.png and raport.png (its page drawn by pdftoppm).
# Usage: scripts/screenshots.sh [build-folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j2 --target kelvane_page_pictures kelvane_merge_picture kelvane_register_picture \
  kelvane_flat_picture
report=$(mktemp --suffix=.pdf)
trap 'rm -f "$report"' EXIT
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
chmod 700 "$XDG_RUNTIME_DIR"
QT_QPA_PLATFORM=offscreen "$build/shell/kelvane_page_pictures" "$root/resources/screenshots"
# The upload question with changes made at the controller since the file's
# base (scalanie.png): under Xvfb when it is installed, as on a desktop.
if command -v xvfb-run >/dev/null; then
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$build/shell/kelvane_merge_picture" "$root/resources/screenshots/scalanie.png"
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$build/shell/kelvane_register_picture" "$root/resources/screenshots"
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$build/shell/kelvane_flat_picture" "$root/resources/screenshots" "$report"
else
  QT_QPA_PLATFORM=offscreen "$build/shell/kelvane_merge_picture" "$root/resources/screenshots/scalanie.png"
  QT_QPA_PLATFORM=offscreen "$build/shell/kelvane_register_picture" "$root/resources/screenshots"
  QT_QPA_PLATFORM=offscreen "$build/shell/kelvane_flat_picture" "$root/resources/screenshots" "$report"
fi
# The report's one page at a size the manual shows whole.
pdftoppm -png -r 60 -singlefile "$report" "$root/resources/screenshots/raport"
echo "$root/resources/screenshots/raport.png"
