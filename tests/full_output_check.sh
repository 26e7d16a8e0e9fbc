#!/usr/bin/env bash
# What discharge_term prints for scripts to read (range, slices) is said to
# have failed where standard output cannot take it (a full disk: /dev/full),
# with the status 1, rather than leave a script an empty range.
#
#   tests/full_output_check.sh DISCHARGE_TERM MAKE_SAMPLE_RUN
set -euo pipefail
term=$(realpath "$1")
make_sample_run=$(realpath "$2")
[ -w /dev/full ] || { echo "SKIP: there is no /dev/full"; exit 77; }
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
cd "$root"
"$make_sample_run" sample >/dev/null
cd sample/output
for subcommand in range slices; do
    status=0
    "$term" "$subcommand" >/dev/full 2>errors || status=$?
    [ $status -eq 1 ] && [ "$(cat errors)" = "Standard output cannot write. (No space left on device)" ] ||
        { echo "FAIL: $subcommand on a full disk: status $status, $(cat errors)"; exit 1; }
done
echo "range and slices: a full standard output is said, status 1"
