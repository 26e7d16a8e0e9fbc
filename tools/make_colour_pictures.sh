#!/usr/bin/env bash
# Makes the pictures of the colour stretches and palettes in the docs, from
# the release build, in a temporary directory:
#
#   docs/real_range_sqrt_201907_day12.png         day 12 of the 1200 x 1000 sample July at one
#                                                 pixel a cell, the term's range, the default
#                                                 square-root stretch, classic colours, plain;
#   docs/real_range_log_201907_day12.png          the same day, --stretch log --annotate;
#   docs/real_range_log_viridis_201907_day12.png  the same day, --stretch log --palette viridis
#                                                 --annotate;
#   docs/sample_gauge_G01.svg                     the sample outlet gauge's hydrograph;
#   docs/sample_gauge_G01_log.svg                 the same with `gauges --log`;
#   docs/sample_201907.gif                        the bundled 120 x 100 sample's July as
#                                                 `discharge_term animate --scale 2 --stretch log`
#                                                 (every second day if every day would pass
#                                                 500 kB).
#
#   tools/make_colour_pictures.sh
#
# Needs the release build (cmake --build --preset release --target discharge_term
# make_sample_run).
set -euo pipefail
cd "$(dirname "$0")/.."
docs=$PWD/docs
term=$PWD/build/release/term_runner/discharge_term
sample=$PWD/build/release/tools/make_sample_run
gif_limit=500000

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

# Day 12 of the large July, drawn with each stretch and palette; the month's
# images are drawn whole (31 PNG images at one pixel a cell, about 11 MB) and
# day 12 kept.
"$sample" "$root/large" --size 1200x1000 --months 201907 >/dev/null
day12() {
    local picture=$1
    shift
    (cd "$root/large/output" &&
        "$term" images --from 2019-07 --to 2019-07 --format png --scale 1 --force "$@" 2>/dev/null)
    cp "$root/large/output/image/201907_  12_discharge.png" "$docs/$picture"
    echo "Wrote docs/$picture ($(wc -c <"$docs/$picture") bytes)"
}
day12 real_range_sqrt_201907_day12.png
day12 real_range_log_201907_day12.png --stretch log --annotate
day12 real_range_log_viridis_201907_day12.png --stretch log --palette viridis --annotate

# The small sample's July as a looping GIF, every day if it stays within the
# limit, else every second day.
"$sample" "$root/sample" >/dev/null
for every in 1 2; do
    (cd "$root/sample/output" &&
        "$term" animate --from 2019-07 --to 2019-07 --scale 2 --stretch log --every "$every" \
            --output "$root/sample_201907.gif" 2>/dev/null)
    [ "$(wc -c <"$root/sample_201907.gif")" -le "$gif_limit" ] && break
done
if [ "$(wc -c <"$root/sample_201907.gif")" -gt "$gif_limit" ]; then
    echo "The sample's GIF takes more than $gif_limit bytes even with --every 2" >&2
    exit 1
fi
cp "$root/sample_201907.gif" "$docs/sample_201907.gif"
echo "Wrote docs/sample_201907.gif ($(wc -c <"$docs/sample_201907.gif") bytes, --every $every)"

# The hydrograph of the sample's outlet gauge, with its scores.
(cd "$root/sample/output" &&
    "$term" gauges --gauges ../gauges.csv --observed ../observed.csv --output "$root/gauges" \
        >/dev/null 2>&1)
cp "$root/gauges/G01.svg" "$docs/sample_gauge_G01.svg"
echo "Wrote docs/sample_gauge_G01.svg ($(wc -c <"$docs/sample_gauge_G01.svg") bytes)"
(cd "$root/sample/output" &&
    "$term" gauges --gauges ../gauges.csv --observed ../observed.csv --output "$root/gauges_log" \
        --log >/dev/null 2>&1)
cp "$root/gauges_log/G01.svg" "$docs/sample_gauge_G01_log.svg"
echo "Wrote docs/sample_gauge_G01_log.svg ($(wc -c <"$docs/sample_gauge_G01_log.svg") bytes)"
