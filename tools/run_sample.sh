#!/usr/bin/env bash
# Builds the programs, writes the sample simulation run into build/sample,
# runs discharge_series on it for a cell on the main river and discharge_image
# for the whole of July 2019, answering their questions on standard input.
# First installs the Debian packages the build needs where they are missing
# (tools/install_dependencies.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install_dependencies.sh build
cmake --preset release
cmake --build --preset release

sample=build/sample
rm -rf "$sample"
build/release/tools/make_sample_run "$sample"

cd "$sample/output"
echo
echo "== discharge_series: column 46, row 14, July 2019 =="
printf '46\n14\n2019\n7\n' | ../../release/series_extractor/discharge_series
echo
echo
echo "== $sample/output/201907-46-14_discharge.dat (days 6 to 16) =="
sed -n 6,16p 201907-46-14_discharge.dat
echo
echo "== discharge_image: July 2019, range taken from the month =="
printf '2019\n7\nn\n' | ../../release/image_renderer/discharge_image
echo
echo "The sample run is in $sample: param.dat, and in output/ the monthly files,"
echo "the time series $sample/output/201907-46-14_discharge.dat"
echo "and the 31 daily images $sample/output/image/201907_*_discharge.ppm."
