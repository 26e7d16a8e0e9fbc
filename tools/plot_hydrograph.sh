#!/usr/bin/env bash
# Plots the hydrograph of the sample run's July 2019 at two river cells, a
# western branch (column 39, row 27) and the main river downstream (46, 14):
# the storm's flood wave passing the one and then the other. The series come
# from discharge_term series --csv, the picture from gnuplot (Debian's
# gnuplot-nox).
#
#   tools/plot_hydrograph.sh [PNG]      default: docs/sample_hydrograph.png
set -euo pipefail
cd "$(dirname "$0")/.."
png=${1:-docs/sample_hydrograph.png}
[ -f build/sample/output/201907_dailyDischarge.bin ] || tools/run_sample.sh
output=build/sample/output
(cd "$output" && ../../release/term_runner/discharge_term series --from 2019-07 --to 2019-07 \
    --cell 39,27 --cell 46,14 --csv)
gnuplot <<GNUPLOT
set terminal pngcairo size 800,400 font ",10"
set output "$png"
set datafile separator ","
set xdata time
set timefmt "%Y-%m-%d"
set format x "%d %b"
set xrange ["2019-07-01":"2019-07-31"]
set xtics "2019-07-01", 5 * 86400
set ylabel "discharge"
set key top right
set grid
set title "Sample run, July 2019: the storm's flood wave down the rivers"
plot "$output/201907-201907-39-27_discharge.csv" using 1:2 skip 1 with linespoints \
         title "western branch (column 39, row 27)", \
     "$output/201907-201907-46-14_discharge.csv" using 1:2 skip 1 with linespoints \
         title "main river (column 46, row 14)"
GNUPLOT
echo "Hydrograph written to $png"
