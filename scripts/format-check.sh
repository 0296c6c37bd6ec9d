#!/usr/bin/env bash
# Checks that every tracked C++ file is laid out as .clang-format says: names
# each file that is not and exits 1. Without clang-format it says so and
# passes. Run by scripts/test.sh; `clang-format -i FILE` formats a file.
#   format-check.sh [FILE...]   only these files (default: every tracked .h/.cpp)
set -euo pipefail
cd "$(dirname "$0")/.."
format=${CLANG_FORMAT:-clang-format}
if ! command -v "$format" >/dev/null; then
  echo "Format: $format is not installed, nothing checked (scripts/deps.sh installs it)."
  exit 0
fi
if [ $# -gt 0 ]; then files=("$@"); else mapfile -t files < <(git ls-files -- '*.h' '*.cpp'); fi
# One run for all: each place that differs is reported as FILE:LINE:COL: error: ...
report=$("$format" --dry-run --Werror "${files[@]}" 2>&1 >/dev/null || true)
mapfile -t unformatted < <(grep -oE '^[^:]+:[0-9]+:[0-9]+: error' <<<"$report" | cut -d: -f1 | sort -u)
if [ -n "$report" ] && [ ${#unformatted[@]} -eq 0 ]; then
  echo "$report"
  exit 1
fi
if [ ${#unformatted[@]} -gt 0 ]; then
  echo "Not formatted as .clang-format says (fix with: clang-format -i FILE):"
  printf '  %s\n' "${unformatted[@]}"
  exit 1
fi
echo "Format: ${#files[@]} files as .clang-format says ($("$format" --version | head -1))."
