#!/usr/bin/env bash
# shellcheck disable=SC2154 # the settings come from slices/settings
# The first phase of a batch, one task: finds the colour range of the whole
# term, which every slice draws with, into ./slices/range.txt (MIN,MAX, as
# `discharge_term range` prints it). A range found before is kept, so a
# batch started again does not search again.
set -euo pipefail
# shellcheck source=/dev/null # the settings that prepare.sh wrote
source slices/settings

[ -s slices/range.txt ] && exit 0
first=$(head -n 1 slices/slices.txt) last=$(tail -n 1 slices/slices.txt)
found=$(mktemp slices/.range.XXXXXX)
trap 'rm -f "$found"' EXIT
"$program" --from "${first% *}" --to "${last#* }" range --stretch "$stretch" >"$found"
mv "$found" slices/range.txt
