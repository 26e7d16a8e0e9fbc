#!/usr/bin/env bash
# discharge_term netcdf on the sample run, checked by the field's own tools:
# ncdump for the structure, CDO for the calendar, the grid, the time steps
# and the maximum (against discharge_term range), Python's netCDF4 for
# every value, bit for bit, against the monthly files and for the days and
# their bounds, GDAL for the placement of the cells (and of a day taken out
# as a GeoTIFF), where it is installed, and xarray for the dates, where it
# is. With --leap-day the leap February's 29th grid is in, and a February of
# 28 grids is refused.
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
# The structure: NetCDF-4 or the 64-bit offset format, time the record
# dimension in both.
header=$(ncdump -h "$file")
case "$(ncdump -k "$file")" in
    netCDF-4 | '64-bit offset') time_line='time = UNLIMITED ; // (243 currently)' ;;
    *) fail "ncdump -k: $(ncdump -k "$file")" ;;
esac
[ "$(ncdump -k leap.nc)" = "$(ncdump -k "$file")" ] || fail "leap.nc: another format"
for line in "$time_line" 'lat = 100 ;' 'lon = 120 ;' 'float discharge(time, lat, lon) ;' \
    'discharge:_FillValue = -999.f ;' 'discharge:units = "m3 s-1" ;' \
    'discharge:standard_name = "water_volume_transport_in_river_channel" ;' \
    'discharge:cell_methods = "time: mean" ;' 'time:calendar = "365_day" ;' \
    'time:units = "days since 2019-07-01 00:00:00" ;' 'time:bounds = "time_bnds" ;' \
    'double time_bnds(time, bnds) ;' 'double lon(lon) ;' 'lon:units = "degrees_east" ;' \
    'lat:bounds = "lat_bnds" ;' 'double lat_bnds(lat, bnds) ;' \
    'crs:grid_mapping_name = "latitude_longitude" ;' 'discharge:grid_mapping = "crs" ;' \
    ':Conventions = "CF-1.8" ;'; do
    grep -qF "$line" <<<"$header" || fail "ncdump -h lacks: $line"
done
# Without --cell-size the grid is of column and row numbers.
for line in 'y = 100 ;' 'x = 120 ;' 'float discharge(time, y, x) ;' 'y:axis = "Y" ;'; do
    grep -qF "$line" <(ncdump -h leap.nc) || fail "leap.nc: ncdump -h lacks: $line"
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
    # Each day at its middle, bounded by its midnights.
    steps = numpy.arange(len(stored))
    assert numpy.array_equal(dataset["time"][:], steps + 0.5), path
    assert numpy.array_equal(dataset["time_bnds"][:], numpy.stack([steps, steps + 1], 1)), path
PY
# GDAL places the file: WGS 84, the corner of param.dat (135.5, 34.25; 100
# rows of 0.25 degrees up to 59.25), north up; a day taken out as a GeoTIFF
# keeps the placement, and its pixels are the day's grid, north row first.
if command -v gdalinfo >/dev/null; then
    info=$(gdalinfo "NETCDF:$file:discharge" 2>&1)
    for line in 'GEOGCRS["WGS 84",' 'ID["EPSG",4326]' 'Origin = (135.500000000000000,59.250000000000000)' \
        'Pixel Size = (0.250000000000000,-0.250000000000000)' 'Size is 120, 100'; do
        grep -qF "$line" <<<"$info" || fail "gdalinfo lacks: $line"
    done
    gdal_translate -q -b 12 "NETCDF:$file:discharge" day12.tif
    info=$(gdalinfo day12.tif 2>&1)
    for line in 'ID["EPSG",4326]' 'Origin = (135.500000000000000,59.250000000000000)' \
        'Pixel Size = (0.250000000000000,-0.250000000000000)' 'Upper Left  ( 135.5000000,  59.2500000)' \
        'Lower Right ( 165.5000000,  34.2500000)'; do
        grep -qF "$line" <<<"$info" || fail "gdalinfo of the GeoTIFF lacks: $line"
    done
    gdal_translate -q -of EHdr day12.tif day12.bil
    /usr/bin/python3 - <<'PY' || fail "the GeoTIFF's pixels are not day 12's grid"
import numpy
day = numpy.fromfile("201907_dailyDischarge.bin", dtype="<f4").reshape(-1, 100, 120)[11]
header = dict(line.split() for line in open("day12.hdr"))
order = "<" if header.get("BYTEORDER", "I") == "I" else ">"
pixels = numpy.fromfile("day12.bil", dtype=order + "f4").reshape(100, 120)
assert numpy.array_equal(pixels.view(numpy.uint32), day[::-1].view(numpy.uint32))
PY
    # A PNG frame with its world file lies where the file's day does: at
    # 5 pixels a cell, and annotated at one, the band north of the map.
    run "$term" images --format png --cell-size 0.25 --from 2019-07 --to 2019-07 2>/dev/null
    info=$(gdalinfo "image/201907_  12_discharge.png" 2>&1)
    for line in 'ID["EPSG",4326]' 'Origin = (135.500000000000000,59.250000000000000)' \
        'Pixel Size = (0.050000000000000,-0.050000000000000)' 'Upper Left  ( 135.5000000,  59.2500000)' \
        'Lower Right ( 165.5000000,  34.2500000)'; do
        grep -qF "$line" <<<"$info" || fail "gdalinfo of a PNG frame lacks: $line"
    done
    run "$term" images --format png --cell-size 0.25 --scale 1 --annotate --force --from 2019-08 \
        --to 2019-08 2>/dev/null
    info=$(gdalinfo "image/201908_   3_discharge.png" 2>&1)
    for line in 'ID["EPSG",4326]' 'Pixel Size = (0.250000000000000,-0.250000000000000)' \
        'Lower Left  ( 135.5000000,  34.2500000)'; do
        grep -qF "$line" <<<"$info" || fail "gdalinfo of an annotated frame lacks: $line"
    done
    echo "netcdf: GDAL places the file, a day's GeoTIFF and the PNG frames"
else
    echo "netcdf: GDAL (Debian's gdal-bin) is not installed: its checks are skipped"
fi
# xarray, with cftime for the 365-day calendar, reads the days and their bounds.
if /usr/bin/python3 -c 'import xarray, cftime' 2>/dev/null; then
    /usr/bin/python3 - "$file" <<'PY' || fail "xarray reads the times wrong"
import sys, cftime, xarray
data = xarray.open_dataset(sys.argv[1])
assert data.time.values[0] == cftime.DatetimeNoLeap(2019, 7, 1, 12), data.time.values[0]
assert list(data.time_bnds.values[-1]) == [cftime.DatetimeNoLeap(2020, 2, 28),
                                          cftime.DatetimeNoLeap(2020, 3, 1)], data.time_bnds.values[-1]
assert data.discharge.sel(time="2019-07-12").shape == (1, 100, 120)
assert float(data.lat[0]) == 34.375 and float(data.lon[-1]) == 165.375
PY
    echo "netcdf: xarray reads the days, their bounds and the cells' centres"
else
    echo "netcdf: xarray (Debian's python3-xarray) is not installed: its check is skipped"
fi
# QGIS (its Python, without a display) places the file as a raster layer:
# WGS 84, the corners of param.dat, a band a day. As a mesh layer (MDAL) it
# reads the dates of the standard calendar (--leap-day): each day's middle
# from 1 July 2019, 00:00. (MDAL reads no dates in the 365-day calendar.)
if QT_QPA_PLATFORM=offscreen /usr/bin/python3 -c 'import qgis.core' 2>/dev/null; then
    run "$term" netcdf --leap-day --cell-size 0.25 --output leap_placed.nc 2>/dev/null
    mkdir -m 700 qgis
    QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$PWD/qgis /usr/bin/python3 - "$file" leap_placed.nc \
        >qgis.log 2>&1 <<'PY' || fail "QGIS: $(grep -v '^Warning 1: dimension' qgis.log)"
import sys
from qgis.core import QgsApplication, QgsMeshLayer, QgsRasterLayer, QgsRectangle
application = QgsApplication([], False)
application.initQgis()
placed, leap = sys.argv[1:]
raster = QgsRasterLayer(f'NETCDF:"{placed}":discharge', "discharge", "gdal")
assert raster.isValid() and raster.crs().authid() == "EPSG:4326", raster.crs().authid()
assert raster.extent() == QgsRectangle(135.5, 34.25, 165.5, 59.25), raster.extent().toString()
assert (raster.width(), raster.height(), raster.bandCount()) == (120, 100, 243)
mesh = QgsMeshLayer(leap, "discharge", "mdal")
assert mesh.isValid() and mesh.crs().authid() == "EPSG:4326", mesh.crs().authid()
times = mesh.temporalProperties()
when = lambda moment: moment.toString("yyyy-MM-dd hh:mm")
assert when(times.referenceTime()) == "2019-07-01 00:00", when(times.referenceTime())
assert (when(times.timeExtent().begin()), when(times.timeExtent().end())) == (
    "2019-07-01 12:00", "2020-02-29 12:00"), times.timeExtent()
# The layers go before QGIS does, which crashes otherwise.
del raster, mesh, times
application.exitQgis()
PY
    echo "netcdf: QGIS places the file and, in the standard calendar, reads its dates"
else
    echo "netcdf: QGIS's Python (Debian's python3-qgis) is not installed: its check is skipped"
fi
# Three significant digits: every value within half a unit of its third
# digit, no discharge kept as stored, and a smaller file; a build that
# writes the classic format refuses the option.
status=0
run "$term" netcdf --significant-digits 3 --output digits.nc 2>errors || status=$?
if [ "$(ncdump -k "$file")" = netCDF-4 ]; then
    [ $status -eq 0 ] || fail "--significant-digits 3 ended with status $status: $(cat errors)"
    grep -qF 'discharge:_QuantizeGranularBitRoundNumberOfSignificantDigits = 3 ;' <(ncdump -h digits.nc) ||
        fail "digits.nc: no quantize attribute"
    [ "$(wc -c <digits.nc)" -lt "$(wc -c <"$file")" ] || fail "digits.nc is not smaller"
    /usr/bin/python3 - <<'PY' || fail "digits.nc: values beyond three digits"
import glob, numpy, netCDF4
days = {1: 31, 2: 28, 7: 31, 8: 31, 9: 30, 10: 31, 11: 30, 12: 31}
stored = numpy.concatenate([numpy.fromfile(name, dtype="<f4").reshape(-1, 100, 120)[: days[int(name[4:6])]]
                            for name in sorted(glob.glob("*_dailyDischarge.bin"))])
dataset = netCDF4.Dataset("digits.nc")
dataset.set_auto_mask(False)
written = dataset["discharge"][:]
positive = stored > 0
unit = 10.0 ** (numpy.floor(numpy.log10(stored[positive].astype(float))) - 2)
assert (numpy.abs(written[positive].astype(float) - stored[positive]) <= unit / 2).all()
assert numpy.array_equal(written[~positive], stored[~positive])
# Bit for bit the values netCDF-C itself stores at three digits.
library = netCDF4.Dataset("library.nc", "w")
for name, size in zip(("time", "y", "x"), stored.shape):
    library.createDimension(name, size)
variable = library.createVariable("discharge", "f4", ("time", "y", "x"), zlib=True,
                                  fill_value=numpy.float32(-999), significant_digits=3,
                                  quantize_mode="GranularBitRound")
variable.set_auto_mask(False)
variable[:] = stored
library.close()
library = netCDF4.Dataset("library.nc")
library.set_auto_mask(False)
assert numpy.array_equal(written.view("<u4"), library["discharge"][:].view("<u4"))
PY
    echo "netcdf: three significant digits kept, as netCDF-C keeps them; no discharge as stored; a smaller file"
    # Grids whose chunks overrun their edges (tiles of 51 x 68 cells on
    # 101 x 203, 62 days in chunks of 4): every value as stored, whatever
    # the threads; and seven digits keep every value within half a unit of
    # its seventh (netCDF-C 4.9 itself turns some into others: 0.5 into 0).
    run "$make_sample_run" ../../edges --size 203x101 --months 201907,201908 >/dev/null
    (cd ../../edges/output &&
        run "$term" netcdf --jobs 1 --output one.nc 2>/dev/null &&
        run "$term" netcdf --jobs 3 --output three.nc 2>/dev/null &&
        run "$term" netcdf --significant-digits 7 --output seven.nc 2>/dev/null &&
        /usr/bin/python3 - <<'PY') || fail "grids beyond the chunks' edges"
import glob, numpy, netCDF4
stored = numpy.concatenate([numpy.fromfile(name, dtype="<f4").reshape(-1, 101, 203)
                            for name in sorted(glob.glob("*_dailyDischarge.bin"))])
def values(name):
    dataset = netCDF4.Dataset(name)
    dataset.set_auto_mask(False)
    assert dataset["discharge"].chunking() == [4, 51, 68], dataset["discharge"].chunking()
    return dataset["discharge"][:]
for name in ("one.nc", "three.nc"):
    assert numpy.array_equal(values(name).view("<u4"), stored.view("<u4")), name
seven = values("seven.nc")
positive = stored > 0
unit = 10.0 ** (numpy.floor(numpy.log10(stored[positive].astype(float))) - 6)
assert (numpy.abs(seven[positive].astype(float) - stored[positive]) <= unit / 2).all()
PY
    echo "netcdf: chunks beyond the grid's edges, on one thread and three; seven digits"
else
    [ $status -eq 2 ] && grep -q '^discharge_term: --significant-digits needs NetCDF-4' errors ||
        fail "the classic format took --significant-digits: status $status, $(cat errors)"
fi
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
# The files of consecutive slices of the term join into the file of the
# whole term: ncrcat's (where NCO is installed) is the whole term's, values,
# coordinates and attributes, all but the history; cdo mergetime's holds
# its values, days, bounds and coordinates bit for bit and its global
# attributes but the history (CDO writes the variables' attributes its own
# way). xarray opens the slices as one dataset, the whole term's.
run "$term" netcdf --cell-size 0.25 --from 2019-07 --to 2019-10 --output first.nc 2>/dev/null
run "$term" netcdf --cell-size 0.25 --from 2019-11 --to 2020-02 --output second.nc 2>/dev/null
CDI_VERSION_INFO=0 CDO_VERSION_INFO=0 cdo -s mergetime first.nc second.nc merged.nc
joined=(merged.nc)
if command -v ncrcat >/dev/null; then
    ncrcat -O -h --no_cll_mth first.nc second.nc concatenated.nc
    joined+=(concatenated.nc)
fi
/usr/bin/python3 - "$file" "${joined[@]}" <<'PY' || fail "the slices joined differ from the whole term"
import sys, numpy, netCDF4, xarray
whole = netCDF4.Dataset(sys.argv[1])
whole.set_auto_mask(False)
def attributes(thing):
    return {name: str(thing.getncattr(name)) for name in thing.ncattrs() if name != "history"}
for name in sys.argv[2:]:
    joined = netCDF4.Dataset(name)
    joined.set_auto_mask(False)
    for variable in ("discharge", "time", "time_bnds", "lat", "lon", "lat_bnds", "lon_bnds"):
        assert numpy.array_equal(whole[variable][:].view("u1"), joined[variable][:].view("u1")), (name, variable)
    assert attributes(joined) == attributes(whole), (name, attributes(joined))
    assert attributes(joined["time"]) == attributes(whole["time"]), name
    if name == "concatenated.nc":
        assert set(joined.variables) == set(whole.variables)
        for variable in whole.variables:
            assert attributes(joined[variable]) == attributes(whole[variable]), (name, variable)
            assert joined[variable].dtype == whole[variable].dtype, (name, variable)
slices = xarray.open_mfdataset(["first.nc", "second.nc"], use_cftime=True)
single = xarray.open_dataset(sys.argv[1], use_cftime=True)
assert slices.discharge.shape == single.discharge.shape
assert (slices.discharge.values.view("u4") == single.discharge.values.view("u4")).all()
assert (slices.time.values == single.time.values).all()
assert {k: v for k, v in slices.attrs.items() if k != "history"} == \
    {k: v for k, v in single.attrs.items() if k != "history"}
PY
echo "netcdf: slices joined by ${joined[*]} and opened by xarray as one, the whole term"
echo "netcdf: structure, calendar, grid, maximum and every value as stored"
