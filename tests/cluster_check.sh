#!/usr/bin/env bash
# The cluster recipes of tools/cluster/, run for real on this machine alone:
# on a one-node Slurm cluster (slurmctld, slurmd and munge on 127.0.0.1) and
# by GNU parallel over ssh to an sshd on 127.0.0.1, each draws the sample
# term in slices of three months (the term begins in July and ends in
# February) and joins them, and what each leaves is compared with one run
# over the whole term on one machine: the images and the page byte for
# byte, the records but for the images' times, the series, and the joined
# NetCDF file (every value and coordinate bit for bit, every attribute but
# the history). The parallel
# batch is stopped first by two failed slices, one of them a month that
# another run holds (reported busy), and started again: it draws only those.
#
#   tests/cluster_check.sh DISCHARGE_TERM MAKE_SAMPLE_RUN
#
# Exit status 77 (skipped), with the reason, where an engine cannot start
# (no root, a tool missing). Nothing it starts outlives it.
set -euo pipefail
term=$(realpath "$1")
make_sample_run=$(realpath "$2")
source_dir=$(cd "$(dirname "$0")/.." && pwd)
cluster=$source_dir/tools/cluster
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }
for tool in sbatch scontrol slurmctld slurmd munged parallel ssh /usr/sbin/sshd ncrcat; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done
[ "$(id -u)" -eq 0 ] || skip "a Slurm node and an sshd of its own need root"
/usr/bin/python3 -c 'import netCDF4, numpy' 2>/dev/null || skip "python3-netcdf4 is not installed"
source "$source_dir/tests/cluster_engines.sh"

root=$(mktemp -d)
trap 'stop_slurm; stop_sshd; rm -rf "$root"' EXIT
cd "$root"
"$make_sample_run" single >/dev/null
cp -a single slurm
cp -a single parallel
export DISCHARGE_TERM=$term
cells=(--cell 46,14 --cell 3,97)
batch=(--months 3 "${cells[@]}" --units m3/s -- --format png)
# The commands the documentation shows are the ones run here (but for the
# machines parallel reaches).
grep -qxF -- "    \$ tools/cluster/slurm_submit.sh --throttle 2 ${batch[*]}" \
    "$source_dir/docs/discharge_term.md" || fail "the documentation's slurm_submit.sh is not run"
grep -qE -- "^    \\$ tools/cluster/parallel_run.sh --ssh .* -S [^ ]+ ${batch[*]}$" \
    "$source_dir/docs/discharge_term.md" || fail "the documentation's parallel_run.sh is not run"

# The whole term on one machine, with the term's range given.
run_single() {
    (
        cd single/output
        range=$("$term" range)
        "$term" images --range "$range" --format png
        "$term" view --range "$range" "${cells[@]}" --units m3/s
        "$term" netcdf --units m3/s
        "$term" series "${cells[@]}" --csv --units m3/s
    ) 2>/dev/null
}
run_single

# A month's record without the times its images and legend were written.
undated() { awk '$1 == "day" || $1 == "legend" { $NF = "" } { print }' "$1"; }

# Each file that one run over the whole term wrote, as it wrote it (the
# records but for the images' times).
same_as_single() {
    local tree=$1
    diff -r -x '.*lock' -x '*_range.txt' single/output/image "$tree"/output/image >/dev/null ||
        fail "$tree: the images differ: $(diff -rq -x '.*lock' single/output/image "$tree"/output/image | head -3)"
    # The records, but for the times their images were written.
    for record in single/output/image/*_range.txt; do
        cmp -s <(undated "$record") <(undated "$tree/output/image/${record##*/}") ||
            fail "$tree: the record ${record##*/} differs"
    done
    diff -r -x .lock single/output/view "$tree"/output/view >/dev/null ||
        fail "$tree: the page differs: $(diff -rq -x .lock single/output/view "$tree"/output/view | head -3)"
    for series in single/output/*_discharge.dat single/output/*_discharge.csv; do
        cmp -s "$series" "$tree/output/${series##*/}" || fail "$tree: ${series##*/} differs"
    done
    /usr/bin/python3 - single/output/201907-202002_discharge.nc \
        "$tree"/output/201907-202002_discharge.nc <<'PY' || fail "$tree: the joined NetCDF file differs"
import sys, numpy, netCDF4
single, joined = (netCDF4.Dataset(name) for name in sys.argv[1:])
def attributes(thing):
    return {name: str(thing.getncattr(name)) for name in thing.ncattrs() if name != "history"}
assert attributes(single) == attributes(joined), attributes(joined)
assert {name: len(d) for name, d in single.dimensions.items()} == \
    {name: len(d) for name, d in joined.dimensions.items()}
assert set(single.variables) == set(joined.variables)
for name, variable in single.variables.items():
    variable.set_auto_mask(False)
    joined[name].set_auto_mask(False)
    assert variable.dtype == joined[name].dtype, name
    assert numpy.array_equal(variable[:].view("u1"), joined[name][:].view("u1")), name
    assert attributes(variable) == attributes(joined[name]), name
PY
    echo "cluster: $tree: images, page, series and NetCDF file as one machine writes them"
}

# Slurm: the range, then the slices two at a time, then the join, each job
# dependent on the one before.
start_slurm "$root/engines" || skip "the one-node Slurm cluster did not start"
jobs=$(cd slurm/output && "$cluster/slurm_submit.sh" --throttle 2 "${batch[@]}")
join_job=${jobs##* }
for _ in $(seq 1 300); do
    state=$(scontrol show job "$join_job" -o)
    case "$state" in
        *JobState=COMPLETED*) break ;;
        *JobState=PENDING*DependencyNeverSatisfied* | *JobState=FAILED* | *JobState=CANCELLED*)
            fail "slurm: the join did not run: $state; $(cat slurm/output/slices/slurm-*.out)" ;;
    esac
    sleep 0.5
done
[[ $state == *JobState=COMPLETED* ]] || fail "slurm: the jobs did not end in 150 s: $state"
[ "$(wc -l <slurm/output/slices/slices.txt)" -eq 3 ] || fail "slurm: not three slices"
stop_slurm
same_as_single slurm

# GNU parallel over ssh: the first batch stops with two slices failed, one
# of a month another run is drawing (its lock held here), one whose NetCDF
# file cannot be written (a folder holds its name); started again, the
# batch draws only those two. Then, over new data, it draws everything
# again.
start_sshd "$root/engines" || skip "sshd did not start"
cd parallel/output
mkdir -p image slices/202001-202002_discharge.nc/in-the-way
exec {held}>image/.201908.lock
flock -n "$held"
if "$cluster/parallel_run.sh" --ssh "$CLUSTER_SSH" -S "2/$CLUSTER_SSH_HOST" "${batch[@]}" \
    >first.log 2>&1; then
    fail "parallel: the first batch succeeded"
fi
exec {held}>&-
grep -q '^201908: busy: another run is drawing it$' first.log ||
    fail "parallel: the month held was not said busy: $(cat first.log)"
[ ! -e 201907-202002_discharge.nc ] || fail "parallel: a failed batch was joined"
# Joined by hand with a slice missing, or a slice that is not there drawn:
# nothing is joined, and the reason is said.
rm -r slices/202001-202002_discharge.nc
status=0
"$cluster/join_slices.sh" 2>errors || status=$?
[ $status -eq 1 ] && [ "$(cat errors)" = "join_slices.sh: nothing joined: the slices lack slices/202001-202002_discharge.nc" ] ||
    fail "join_slices.sh with a slice missing: status $status, $(cat errors)"
[ -z "$(ls -A | grep -v -x -e image -e slices -e first.log -e errors -e '[0-9]*_dailyDischarge.bin')" ] ||
    fail "join_slices.sh left $(ls -A)"
status=0
"$cluster/draw_slice.sh" 0 2>errors || status=$?
[ $status -eq 2 ] && [ "$(cat errors)" = "draw_slice.sh: no slice '0': ./slices/slices.txt holds slices 1 to 3" ] ||
    fail "draw_slice.sh 0: status $status, $(cat errors)"
"$cluster/parallel_run.sh" --ssh "$CLUSTER_SSH" -S "2/$CLUSTER_SSH_HOST" "${batch[@]}" \
    >second.log 2>&1 || fail "parallel: the batch started again failed: $(cat second.log)"
# The log: the three slices, then slices 1 and 3 again, which ended well.
ran=$(awk 'NR > 1 { print $NF ":" $7 }' slices/parallel.log | sort | tr '\n' ' ')
[ "$ran" = "1:0 1:1 2:0 3:0 3:1 " ] || fail "parallel: the job log reads $ran"
rm first.log second.log errors
cd "$root"
same_as_single parallel

# A new simulation over the batch: the same batch started again finds the
# range again and draws every slice again, as one run over the new term.
/usr/bin/python3 - single/output/201911_dailyDischarge.bin <<'PY'
import struct, sys
with open(sys.argv[1], "r+b") as month:
    month.seek(4 * (120 * 13 + 45))
    month.write(struct.pack("<f", 5000.0))
PY
cp -p single/output/201911_dailyDischarge.bin parallel/output/
run_single
(cd parallel/output &&
    "$cluster/parallel_run.sh" --ssh "$CLUSTER_SSH" -S "2/$CLUSTER_SSH_HOST" "${batch[@]}") \
    >third.log 2>&1 || fail "parallel: the batch over new data failed: $(cat third.log)"
grep -qF "prepare.sh: the simulation's files changed since the batch's range was found: it is found again, and every slice drawn again" third.log ||
    fail "parallel: new data were not said: $(cat third.log)"
[ "$(cat parallel/output/slices/range.txt)" = "0.00800000038,5000" ] ||
    fail "parallel: the range of the new data is $(cat parallel/output/slices/range.txt)"
stop_sshd
same_as_single parallel
