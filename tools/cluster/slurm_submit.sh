#!/usr/bin/env bash
# A term in slices on a Slurm cluster, from the simulation's output
# directory (on a file system every node shares):
#
#   slurm_submit.sh [--throttle T] [PREPARE OPTIONS]
#
# cuts the term into slices (prepare.sh, whose options it passes on) and
# submits three jobs: one that finds the term's range, then, once it has
# succeeded (afterok), a job array of a task a slice, at most T (default 4)
# running at once, that draws the images, the page, the NetCDF file and the
# series of each slice, and, once every task has succeeded, one that joins
# the slices. A job that fails cancels those after it. The jobs' output
# goes to ./slices/slurm-*.out. It prints the three jobs' ids, the joining
# job's last. Set $SBATCH_PARTITION, $SBATCH_TIMELIMIT and the like for the
# cluster's own rules. The nodes run discharge_term as prepare.sh found it,
# and the join NCO's ncrcat.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/batch.sh"
offer_help "${1:-}"

throttle=4 passed=()
while [ $# -gt 0 ]; do
    case "$1" in
        --throttle)
            is_count "${2:-}" ||
                { echo "slurm_submit.sh: --throttle needs a whole number from 1" >&2; exit 2; }
            throttle=$2
            shift 2
            ;;
        --) passed+=("$@"); break ;;
        *) passed+=("$1"); shift ;;
    esac
done
count=$("$here/prepare.sh" "${passed[@]}")
# Each job runs a script of this folder in the output directory; --wrap
# keeps it here, where the others are, rather than in Slurm's spool.
submit() {
    local script=$1
    shift
    sbatch --parsable --chdir="$PWD" --wrap="$(printf '%q' "$here/$script")" "$@" | cut -d ';' -f 1
}
range_job=$(submit find_range.sh --job-name=term-range --output=slices/slurm-%j-range.out)
slices_job=$(submit draw_slice.sh --job-name=term-slices --array="1-$count%$throttle" \
    --dependency="afterok:$range_job" --kill-on-invalid-dep=yes \
    --output=slices/slurm-%A_%a-slice.out)
join_job=$(submit join_slices.sh --job-name=term-join --dependency="afterok:$slices_job" \
    --kill-on-invalid-dep=yes --output=slices/slurm-%j-join.out)
echo "$range_job $slices_job $join_job"
