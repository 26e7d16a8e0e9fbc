#!/usr/bin/env bash
# discharge_term netcdf on the sample run, checked by the field's own tools:
# ncdump for the structure, CDO for the calendar, the grid, the time steps
# and the maximum (against discharge_term range), and Python's netCDF4 for
# every value, bit for bit, against the monthly files. With --leap-day the
# leap February's 29th grid is in, and a February of 28 grids is refused.
# A library with NetCDF-4 writes that format, one without it (the cross
# builds') the classic format with 64-bit offsets, time its record dimension.
#
#   tests/netcdf_check.sh DISCHARGE_TERM MAKE_SAMPLE_RUN [LAUNCHER...]
#
# The programs are a cross build's where LAUNCHER is given, the emulator that
# runs them (wine, which ends the lines of text with CR LF); the tools are the
# build machine's.
#
# Exit status 77 (skipped) where a tool is missing or the build has no NetCDF.
set -euo pipefail
term=$1
make_sample_run=$2
shift 2
launcher=("$@")
run() { "${launcher[@]}" "$@"; }
for tool in ncdump cdo; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
/usr/bin/python3 -c 'import netCDF4, numpy' 2>/dev/null ||
    { echo "SKIP: python3-netcdf4 is not installed"; exit 77; }
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
cd "$root"
run "$make_sample_run" sample >/dev/null
cd sample/output
status=0
run "$term" netcdf --cell-size 0.25 2>/dev/null || status=$?
[ $status -ne 2 ] || { echo "SKIP: this build has no NetCDF support"; exit 77; }
[ $status -eq 0 ] || { echo "FAIL: netcdf ended with status $status"; exit 1; }
run "$term" netcdf --leap-day --units "m3/s" --output leap.nc 2>/dev/null
file=201907-202002_discharge.nc

fail() { echo "FAIL: $*"; exit 1; }
# The structure: NetCDF-4 with a fixed time dimension, or the 64-bit offset
# format with time the record dimension.
header=$(ncdump -h "$file")
case "$(ncdump -k "$file")" in
    netCDF-4) time_line='time = 243 ;' ;;
    '64-bit offset') time_line='time = UNLIMITED ; // (243 currently)' ;;
    *) fail "ncdump -k: $(ncdump -k "$file")" ;;
esac
[ "$(ncdump -k leap.nc)" = "$(ncdump -k "$file")" ] || fail "leap.nc: another format"
for line in "$time_line" 'y = 100 ;' 'x = 120 ;' 'float discharge(time, y, x) ;' \
    'discharge:_FillValue = -999.f ;' 'discharge:units = "m3 s-1" ;' \
    'discharge:standard_name = "water_volume_transport_in_river_channel" ;' \
    'discharge:cell_methods = "time: mean" ;' 'time:calendar = "365_day" ;' \
    'time:units = "days since 2019-07-01 00:00:00" ;' 'lon:units = "degrees_east" ;' \
    ':Conventions = "CF-1.8" ;'; do
    grep -qF "$line" <<<"$header" || fail "ncdump -h lacks: $line"
done
grep -qF 'time:calendar = "standard" ;' <(ncdump -h leap.nc) || fail "leap.nc: not the standard calendar"
grep -qF 'discharge:units = "m3/s" ;' <(ncdump -h leap.nc) || fail "leap.nc: not the units given"
# CDO: the calendar, the grid, the steps, and the maximum of the term.
info=$(cdo -s sinfo "$file" 2>&1)
grep -q 'Calendar = 365_day' <<<"$info" || fail "cdo sinfo: calendar"
grep -q 'lonlat *: points=12000 (120x100)' <<<"$info" || fail "cdo sinfo: grid"
grep -q 'time : 243 steps' <<<"$info" || fail "cdo sinfo: steps"
grep -q 'time : 244 steps' <<<"$(cdo -s sinfo leap.nc 2>&1)" || fail "cdo sinfo: leap steps"
maximum=$(cdo -s outputf,%.9g -fldmax -timmax "$file" | tr -d ' ')
range=$(run "$term" range | tr -d '\r')
[ "$maximum" = "${range#*,}" ] || fail "cdo timmax gives $maximum, discharge_term range $range"
# Every value, bit for bit.
/usr/bin/python3 - "$file" leap.nc <<'PY' || fail "values differ"
import sys, glob
import numpy, netCDF4
days = {1: 31, 2: 28, 7: 31, 8: 31, 9: 30, 10: 31, 11: 30, 12: 31}
for path, leap in ((sys.argv[1], False), (sys.argv[2], True)):
    months = []
    for name in sorted(glob.glob("*_dailyDischarge.bin")):
        grids = numpy.fromfile(name, dtype="<f4").reshape(-1, 100, 120)
        month = int(name[4:6])
        months.append(grids[: days[month] + (1 if leap and month == 2 else 0)])
    stored = numpy.concatenate(months)
    dataset = netCDF4.Dataset(path)
    dataset.set_auto_mask(False)
    written = dataset["discharge"][:]
    assert written.shape == stored.shape, (written.shape, stored.shape)
    assert numpy.array_equal(written.view(numpy.uint32), stored.view(numpy.uint32)), path
    # Day by day from 0: in the classic format time is the record dimension.
    assert numpy.array_equal(dataset["time"][:], numpy.arange(len(stored))), path
PY
# The history holds the command line as a shell reads it back.
run "$term" netcdf --from 2019-07 --to 2019-07 --units "m3 s-1" --output quoted.nc 2>/dev/null
grep -qF " netcdf --from 2019-07 --to 2019-07 --units \\'m3 s-1\\' --output quoted.nc\" ;" \
    <(ncdump -h quoted.nc) || fail "history: $(ncdump -h quoted.nc | grep history)"
# A leap February of 28 grids is refused with --leap-day, and nothing written.
head -c $((28 * 12000 * 4)) 202002_dailyDischarge.bin >short && mv short 202002_dailyDischarge.bin
rm -f leap.nc
if run "$term" netcdf --leap-day --output leap.nc 2>errors; then fail "a short leap February was taken"; fi
grep -q '^./202002_dailyDischarge.bin: Daily discharge data cannot open. (1344000 bytes, where --leap-day reads 29 grids' errors ||
    fail "the refusal reads: $(cat errors)"
[ ! -e leap.nc ] || fail "a file was written"
[ -z "$(ls -A | grep '\.tmp$')" ] || fail "a temporary was left"
echo "netcdf: structure, calendar, grid, maximum and every value as stored"
