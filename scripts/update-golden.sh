#!/usr/bin/env bash
# Writes tests/texts/language_texts.golden again from the language table, after
# a text was added or changed on purpose. Review `git diff` before committing.
# Usage: scripts/update-golden.sh [build-folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target texts_test
KELVANE_UPDATE_GOLDEN=1 "$build/tests/texts/texts_test" --gtest_filter='LanguageTable.EveryTextMatchesTheReviewedCopy'
git -C "$root" --no-pager diff --stat -- tests/texts/language_texts.golden
