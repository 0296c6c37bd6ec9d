#!/usr/bin/env bash
# Checks that every source file includes only headers of its own layer and the
# layers below it, and that the Qt-free layers include no Qt header.
# Exits 1 and names each offending line otherwise. Run by scripts/test.sh.
#
# Layers, bottom up (folder -> targets -> may include):
#   image/    kelvane_image                      image
#   files/    kelvane_files, kelvane_print       image files
#   link/     serial_line, kelvane_link          image link
#   sim/      device_sim, controller_sim,        image link sim
#             bootloader_sim, simulator servers
#   upgrade/  upgrade_core (protocol)            link sim upgrade
#   session/  serial_line_qt, kelvane_session    image files link sim upgrade session
#   registry/ kelvane_registry (Qt Core + Sql)   image files link sim upgrade session registry
#   texts/    kelvane_texts (no Qt)              image files link texts
#   shell/    KelvaneMini's windows              everything above, resources
#   upgrade/  upgrade_window, Orva_Upgrade       everything above, resources
#             (the window files listed in WINDOW_FILES below)
#   cli/      kvtool                             everything above but the windows
#   resources/ pictures, icons, manual           resources (the help window is shell/)
#   fuzz/     libFuzzer harnesses                image files link sim upgrade fuzz
#   tests/, benchmarks/: anything.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# Folder (or file pattern) -> folders it may include from.
declare -A allowed=(
  [image]="image"
  [files]="image files"
  [link]="image link"
  [sim]="image link sim"
  [upgrade]="link sim upgrade"
  [session]="image files link sim upgrade session"
  [registry]="image files link sim upgrade session registry"
  [texts]="image files link texts"
  [upgrade_window]="image files link sim upgrade session registry resources"
  [shell]="image files link sim upgrade session registry texts shell resources"
  [cli]="image files link sim upgrade session registry texts cli"
  [resources]="resources"
  [fuzz]="image files link sim upgrade fuzz"
)
# Files of upgrade/ that belong to the window layer, not to the protocol.
WINDOW_FILES='^upgrade/(upgrade_window|upgrade_run|port_list|main)\.(h|cpp)$'
# Layers and files without Qt (files/card_printer is the Qt printing of files/).
QT_FREE='^(image|link|sim|texts)/|^(fuzz)/|^files/(atomic_file|cp1250|data_file|description_text|card_layout|grid_csv)\.|^shell/(edit_state|program_state)\.|^upgrade/(block_check|bootloader_protocol|firmware_image|port_names|stop_flag|upgrade_state|upgrade_texts|upgrade_view)\.'

status=0
while IFS= read -r file; do
  folder=${file%%/*}
  layer=$folder
  [[ $file =~ $WINDOW_FILES ]] && layer=upgrade_window
  ok=${allowed[$layer]:-}
  [[ -z $ok ]] && continue
  while IFS=: read -r line text; do
    inc=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]*)".*/\1/' <<<"$text")
    [[ $inc == */* ]] || { echo "$file:$line: include without its folder: $inc"; status=1; continue; }
    dir=${inc%%/*}
    if [[ " $ok " != *" $dir "* ]]; then
      echo "$file:$line: $layer may not include $inc (allowed: $ok)"
      status=1
    fi
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" || true)
  if [[ $file =~ $QT_FREE ]]; then
    while IFS=: read -r line text; do
      echo "$file:$line: Qt header in a Qt-free layer: $text"
      status=1
    done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' "$file" || true)
  fi
done < <(git ls-files --cached --others --exclude-standard -- '*.h' '*.cpp' | grep -vE '^(tests|benchmarks)/')

if [[ $status -eq 0 ]]; then echo "Layers: every include goes down."; fi
exit $status
