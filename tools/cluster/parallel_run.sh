#!/usr/bin/env bash
# A term in slices on machines reached by ssh, with GNU parallel, from the
# simulation's output directory (on a file system every machine shares, at
# the same path):
#
#   parallel_run.sh -S HOSTS [--ssh COMMAND] [PREPARE OPTIONS]
#
# HOSTS as parallel's -S takes them (`2/node1,node2`: two tasks at once on
# node1, as many as it has processors on node2; `:` is this machine);
# COMMAND the ssh that parallel runs (--ssh). It cuts the term into slices
# (prepare.sh, whose options it passes on), finds the term's range on one of
# the machines, draws the slices a task each (draw_slice.sh) and, once every
# one has succeeded, joins them here (join_slices.sh). parallel records each
# task in ./slices/parallel.log (--joblog): started again after a stop or a
# failure, it draws only the slices that did not end well (--resume-failed),
# and those up to date quickly. Status 0 once joined, 1 when a slice failed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/batch.sh"
offer_help "${1:-}"

hosts='' ssh=() passed=()
while [ $# -gt 0 ]; do
    case "$1" in
        -S | --ssh)
            [ $# -ge 2 ] || { echo "parallel_run.sh: $1 needs a value" >&2; exit 2; } ;;&
        -S) hosts=$2; shift 2 ;;
        --ssh) ssh=(--ssh "$2"); shift 2 ;;
        --) passed+=("$@"); break ;;
        *) passed+=("$1"); shift ;;
    esac
done
[ -n "$hosts" ] || { echo "parallel_run.sh: -S HOSTS is needed (--help tells more)" >&2; exit 2; }
count=$("$here/prepare.sh" "${passed[@]}")
on_hosts=(parallel "${ssh[@]}" -S "$hosts" --wd "$PWD")
"${on_hosts[@]}" -N0 "$(printf '%q' "$here/find_range.sh")" ::: range ||
    { echo "parallel_run.sh: the term's range was not found" >&2; exit 1; }
# shellcheck disable=SC2046 # the slices' numbers, a word each
"${on_hosts[@]}" --joblog slices/parallel.log --resume-failed \
    "$(printf '%q' "$here/draw_slice.sh")" ::: $(seq 1 "$count") || {
    echo "parallel_run.sh: slices failed (./slices/parallel.log): run again to draw them" >&2
    exit 1
}
"$here/join_slices.sh"
