#!/usr/bin/env bash
# Checks that no tracked C++ source file outside tests/ and third_party/ is over 500 lines,
# but for those scripts/long-files.txt lists (data tables, and files being
# split); names each file over the limit and each listed file that is no
# longer over it, and exits 1 on either. Run by scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
limit=500
mapfile -t allowed < <(sed -e 's/#.*//' -e 's/[[:space:]]*$//' scripts/long-files.txt | grep -v '^$' || true)
is_allowed() {
  local f
  for f in "${allowed[@]}"; do [ "$f" = "$1" ] && return 0; done
  return 1
}
failed=0
while IFS= read -r file; do
  lines=$(wc -l <"$file")
  if [ "$lines" -gt "$limit" ] && ! is_allowed "$file"; then
    echo "Lines: $file has $lines lines, over $limit: split it along a seam (or list a data table in scripts/long-files.txt)"
    failed=1
  fi
done < <(git ls-files -- '*.h' '*.cpp' | grep -v -e '^tests/' -e '^third_party/')
for file in "${allowed[@]}"; do
  if [ ! -f "$file" ] || [ "$(wc -l <"$file")" -le "$limit" ]; then
    echo "Lines: $file is listed in scripts/long-files.txt but is not over $limit lines: take it off the list"
    failed=1
  fi
done
[ "$failed" -eq 0 ] && echo "Lines: no source file over $limit lines outside the ${#allowed[@]} listed."
exit "$failed"
