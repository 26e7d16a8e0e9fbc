#!/usr/bin/env bash
# shellcheck disable=SC2154 # the settings come from slices/settings
# The first phase of a batch, one task: finds the colour range of the whole
# term, which every slice draws with, into ./slices/range.txt (MIN,MAX, as
# `discharge_term range` prints it), and the simulation's files it was
# found from into ./slices/range.stamps. A range found from the files as
# they are is kept, so that a batch started again does not search again.
set -euo pipefail
source "$(dirname "$0")/batch.sh"
offer_help "${1:-}"
read_settings

stamps=$(data_stamps)
if [ -s slices/range.txt ] && [ "$stamps" = "$(cat slices/range.stamps 2>/dev/null)" ]; then
    exit 0
fi
first=$(head -n 1 slices/slices.txt) last=$(tail -n 1 slices/slices.txt)
found=$(mktemp slices/.range.XXXXXX)
trap 'rm -f "$found"' EXIT
"$program" --from "${first% *}" --to "${last#* }" range --stretch "$stretch" >"$found"
echo "$stamps" >slices/range.stamps
mv "$found" slices/range.txt
