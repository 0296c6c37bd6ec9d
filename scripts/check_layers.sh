#!/usr/bin/env bash
# Checks that every source file includes only headers of its own layer and the
# layers below it, and that the Qt-free layers include no Qt header.
# Exits 1 and names each offending line otherwise. Run by scripts/test.sh.
#
# One layer per folder, bottom up (folder -> targets -> may include):
#   image/      kelvane_image                      image
#   files/      kelvane_files (no Qt)              image files
#   print/      kelvane_card_render, kelvane_print image files print
#   link/       serial_line, kelvane_link          image link
#   sim/        device_sim, controller_sim,        image link sim
#               bootloader_sim, simulator servers
#   bootloader/ kelvane_bootloader (no Qt)         link sim bootloader
#   session/    serial_line_qt, kelvane_session    image files link sim bootloader session
#   jobs/       kelvane_jobs (no Qt)               image files link sim bootloader registry jobs
#   texts/      kelvane_texts (no Qt)              image files link bootloader jobs texts
#   resources/  pictures, icons, manual            resources
#   shell/      KelvaneMini's windows              everything above
#   orva/       Orva_Upgrade's window              image files link sim bootloader session texts
#                                                  resources registry
#   cli/        kvtool                             everything above but the windows
#   fuzz/       libFuzzer harnesses                image files link sim bootloader fuzz
#   tests/, benchmarks/: anything.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# Folder -> folders it may include from.
declare -A allowed=(
  [image]="image"
  [files]="image files"
  [print]="image files print"
  [link]="image link"
  [sim]="image link sim"
  [bootloader]="link sim bootloader"
  [session]="image files link sim bootloader session"
  [jobs]="image files link sim bootloader registry jobs"
  [texts]="image files link bootloader jobs texts"
  [resources]="resources"
  [shell]="image files print link sim bootloader session texts resources shell registry jobs"
  [orva]="image files link sim bootloader session texts resources orva registry jobs"
  [cli]="image files print link sim bootloader session registry jobs texts cli"
  [registry]="image files link sim bootloader session registry"
  [campaign]="image files link sim bootloader session jobs texts campaign"
  [fuzz]="image files link sim bootloader fuzz"
)
# Folders without Qt.
QT_FREE=" image files link sim bootloader jobs texts fuzz "

status=0
while IFS= read -r file; do
  layer=${file%%/*}
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
  if [[ $QT_FREE == *" $layer "* ]]; then
    while IFS=: read -r line text; do
      echo "$file:$line: Qt header in a Qt-free layer: $text"
      status=1
    done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' "$file" || true)
  fi
done < <(git ls-files --cached --others --exclude-standard -- '*.h' '*.cpp' | grep -vE '^(tests|benchmarks)/')

if [[ $status -eq 0 ]]; then echo "Layers: every include goes down."; fi
exit $status
