#!/usr/bin/env bash
# Times discharge_image and discharge_series on a large sample month against
# the I/O floor, and discharge_term on six months against six runs of
# discharge_image and against cat, and checks that the outputs match the test
# build's; discharge_term's PNG images against its PPM ones; and its NetCDF
# file of a year: writing it, its size, and reading a map and a series back
# against reading the monthly files; annotated PNG images and the GIF
# animation of a month against its plain PNG images; and the scores and
# hydrographs of 1,000 gauges over ten years against reading the months.
#
#   bench/run_bench.sh [--size COLSxROWS] [--runs N] [--dir DIR]
#                      [--part month|term|png|netcdf|annotate|gauges|all]
#
# Defaults: a 1200x1000 July, 9 runs of every case, data in build/bench-data
# (about 6 GB of images are written there; the sparse month takes no space),
# every part. A 2400x2000 July writes 11 GB of images a run; the term part
# writes 1.7 GB a run, whatever the size; the PNG part at most 5.6 GB at
# 1200x1000; the NetCDF part keeps a year of months (1.75 GB at 1200x1000)
# and writes a third of that a run; the annotate part at most 60 MB a run;
# the gauges part keeps ten years of months (17.5 GB at 1200x1000) and
# writes about 200 MB a run.
set -euo pipefail
cd "$(dirname "$0")/.."

size=1200x1000
runs=9
dir=build/bench-data
part=all
while [ $# -gt 0 ]; do
    case "$1" in
        --size) size=$2; shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        --dir) dir=$2; shift 2 ;;
        --part) part=$2; shift 2 ;;
        *) echo "usage: bench/run_bench.sh [--size COLSxROWS] [--runs N] [--dir DIR]" \
               "[--part month|term|png|netcdf|annotate|gauges|all]" >&2
           exit 2 ;;
    esac
done
ncols=${size%x*}
nrows=${size#*x}

# The programs timed are the release build's, as the packages ship them: for
# baseline x86-64, choosing wider vector units at run time. The build tuned
# for this machine (-march=native) is timed once beside them, and must write
# the same bytes.
echo "Building the release build (build/release) and the tuned build (build/bench)..."
for preset in release bench; do
    cmake --preset "$preset"
    cmake --build --preset "$preset"
done
bin=$PWD/build/release
ref=$PWD/build/bench

mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
status=0

# One case: name, working directory, standard input, command. Keeps the
# elapsed time, the user and system CPU time and the peak memory.
declare -A times user system memory
run_case() {
    local name=$1 workdir=$2 input=$3
    shift 3
    local start end
    start=$EPOCHREALTIME
    # The range pass alone ends, as intended, without an image folder.
    (cd "$workdir" && printf '%s' "$input" |
        /usr/bin/time -f '%M %U %S' -o "$dir/.usage" "$@" >/dev/null) || [ "$name" = range_pass ]
    end=$EPOCHREALTIME
    times[$name]+="$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.4f", e - s }') "
    local kb cpu_user cpu_system
    read -r kb cpu_user cpu_system < <(tail -n 1 "$dir/.usage")
    user[$name]+="$cpu_user "
    system[$name]+="$cpu_system "
    if [ -z "${memory[$name]:-}" ] || [ "$kb" -gt "${memory[$name]}" ]; then
        memory[$name]=$kb
    fi
}

# What writing gigabytes costs depends on what the run before left in
# memory, so every contender of an image case starts from the same state:
# the callers delete every contender's outputs, then no dirty pages are left
# (sync), where this is permitted the page cache is dropped and memory
# compacted, and the input files given are read into the cache once.
same_start() {
    sync
    if [ -w /proc/sys/vm/drop_caches ]; then
        echo 3 >/proc/sys/vm/drop_caches
        echo 1 >/proc/sys/vm/compact_memory 2>/dev/null || true
    fi
    cat "$@" >/dev/null
}

median() { tr ' ' '\n' <<<"$1" | grep . | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
fastest() { tr ' ' '\n' <<<"$1" | grep . | sort -g | head -n 1; }
verdict() { awk -v a="$1" -v b="$2" 'BEGIN { print (a <= b) ? "ok" : "OVER" }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
row_header() {
    printf '%-19s %8s %8s %7s %7s %12s  %-12s %s\n' case median fastest user system "peak MB" against \
        "ratio median, fastest"
}
# The least of a statistic over several cases, named with commas between.
least() {
    local statistic=$1 cases=$2 case least=""
    for case in ${cases//,/ }; do
        least=$(printf '%s\n' "$least" "$($statistic "${times[$case]}")" | grep . | sort -g | head -n 1)
    done
    echo "$least"
}
# A row of the table; the floor may be several cases, of which the best in
# median and the best in fastest run count.
row() {
    local name=$1 floor=$2 target=$3 memory_limit=$4
    local m f ratio_text="" mem_mb
    m=$(median "${times[$name]}")
    f=$(fastest "${times[$name]}")
    mem_mb=$(awk -v k="${memory[$name]}" 'BEGIN { printf "%.1f", k / 1024 }')
    if [ -n "$floor" ]; then
        local rm rf
        rm=$(ratio "$m" "$(least median "$floor")")
        rf=$(ratio "$f" "$(least fastest "$floor")")
        ratio_text="$rm, $rf"
        [ -n "$target" ] && ratio_text="$ratio_text (<= $target: $(verdict "$rm" "$target"), $(verdict "$rf" "$target"))"
    fi
    [ -n "$memory_limit" ] && mem_mb="$mem_mb ($(verdict "${memory[$name]}" "$memory_limit"))"
    printf '%-19s %8.3f %8.3f %7.2f %7.2f %12s  %-12s %s\n' "$name" "$m" "$f" \
        "$(median "${user[$name]}")" "$(median "${system[$name]}")" "$mem_mb" "${floor:--}" "$ratio_text"
}

month_part() {
    # The runs: a large month, a 12x10 month, and a sparse month of about 100 GB
    # (40000 x 20000 cells, 31 days) whose last cell lies at its very end.
    rm -rf "$dir/large" "$dir/small" "$dir/sparse" "$dir/pipe" "$dir/range"
    "$ref/tools/make_sample_run" "$dir/large" --size "$size" --months 201907 >/dev/null
    "$ref/tools/make_sample_run" "$dir/small" --size 12x10 --months 201907 >/dev/null
    mkdir -p "$dir/sparse/output" "$dir/pipe/output" "$dir/range/output" "$dir/large/floor"
    sed 's/^12 10$/40000 20000/' "$dir/small/param.dat" >"$dir/sparse/param.dat"
    truncate -s $((31 * 40000 * 20000 * 4)) "$dir/sparse/output/201907_dailyDischarge.bin"
    cp "$dir/large/param.dat" "$dir/pipe/param.dat"
    data=$dir/large/output/201907_dailyDischarge.bin
    # Without ./image/, discharge_image stops at its first image: what it does
    # before is the range pass, one sequential read of the month.
    cp "$dir/large/param.dat" "$dir/range/param.dat"
    ln -s "$data" "$dir/range/output/201907_dailyDischarge.bin"
    image_bytes=$(( $(printf 'P6\n%d %d\n255\n' $((5 * ncols)) $((5 * nrows)) | wc -c) + 75 * ncols * nrows ))

    # discharge_series with its monthly file a FIFO that cat fills: the pass that
    # cannot seek, against cat's own time.
    series_from_pipe() {
        rm -f "$dir/pipe/output/201907_dailyDischarge.bin"
        mkfifo "$dir/pipe/output/201907_dailyDischarge.bin"
        cat "$data" >"$dir/pipe/output/201907_dailyDischarge.bin" &
        "$bin/series_extractor/discharge_series"
        wait
    }
    # The floor of that pass: the same bytes through a FIFO into cat.
    pipe_floor() {
        rm -f "$dir/pipe/floor.fifo"
        mkfifo "$dir/pipe/floor.fifo"
        cat "$data" >"$dir/pipe/floor.fifo" &
        cat "$dir/pipe/floor.fifo"
        wait
    }
    export -f series_from_pipe pipe_floor
    export dir data bin

    middle="$((ncols / 2)) $((nrows / 2))"
    series=$bin/series_extractor/discharge_series
    light_cases=(
        "series_small|$dir/small/output|12 10 2019 7|$series"
        "series_middle|$dir/large/output|$middle 2019 7|$series"
        "series_last|$dir/large/output|$ncols $nrows 2019 7|$series"
        "series_sparse_last|$dir/sparse/output|40000 20000 2019 7|$series"
        "series_pipe|$dir/pipe/output|$middle 2019 7|bash -c series_from_pipe"
        "pipe_floor|$dir||bash -c pipe_floor"
        "range_pass|$dir/range/output|2019 7 n|$bin/image_renderer/discharge_image"
        "read_floor|$dir||cat $data"
    )
    echo "Timing $runs rounds of every case, side by side..."
    image_cases=(
        "image_computed|$dir/large/output|2019 7 n|$bin/image_renderer/discharge_image"
        "image_typed|$dir/large/output|2019 7 y 2000 0|$bin/image_renderer/discharge_image"
        "image_typed_tuned|$dir/large/output|2019 7 y 2000 0|$ref/image_renderer/discharge_image"
        "floor_large|$dir||$bin/bench/io_floor $data $dir/large/floor 31 $image_bytes"
        "floor_gathered|$dir||$bin/bench/io_floor $data $dir/large/floor 31 $image_bytes $((15 * ncols))"
    )
    for ((round = 1; round <= runs; round++)); do
        # The image contenders interleaved, each round starting at another one.
        for ((i = 0; i < ${#image_cases[@]}; i++)); do
            IFS='|' read -r name workdir input command <<<"${image_cases[(i + round) % ${#image_cases[@]}]}"
            rm -f "$dir/large/output/image"/* "$dir/large/floor"/*
            same_start "$data"
            # shellcheck disable=SC2086 # the command is split into its words
            run_case "$name" "$workdir" "$input"$'\n' $command
        done
        # Let the gigabytes just written reach the disk before the short cases,
        # start them each round at another one, and run each five times: they
        # take milliseconds, and process start-up is noisy at that scale.
        sync
        for ((repeat = 0; repeat < 5; repeat++)); do
            for ((i = 0; i < ${#light_cases[@]}; i++)); do
                IFS='|' read -r name workdir input command <<<"${light_cases[(i + round + repeat) % ${#light_cases[@]}]}"
                # shellcheck disable=SC2086 # the command is split into its words
                run_case "$name" "$workdir" "$input"$'\n' $command
            done
        done
        printf '  round %d of %d done\n' "$round" "$runs"
    done

    day_grid_kb=$((ncols * nrows * 4 / 1024))
    image_memory_limit=$((3 * day_grid_kb + 32 * 1024))
    series_memory_limit=$((16 * 1024))

    echo
    echo "$size July, $runs runs of every image case (5 x $runs of the short ones); seconds"
    row_header
    row image_computed floor_large,floor_gathered 1.1 "$image_memory_limit"
    row image_typed floor_large,floor_gathered 1.1 "$image_memory_limit"
    row image_typed_tuned floor_large,floor_gathered "" "$image_memory_limit"
    row floor_large "" "" ""
    row floor_gathered "" "" ""
    row series_small "" "" "$series_memory_limit"
    row series_middle series_small 1.2 "$series_memory_limit"
    row series_last series_small 1.2 "$series_memory_limit"
    row series_sparse_last series_small 1.2 "$series_memory_limit"
    row series_pipe pipe_floor "" "$series_memory_limit"
    row pipe_floor "" "" ""
    row range_pass read_floor "" "$image_memory_limit"
    row read_floor "" "" ""
    echo "User and system CPU are medians. Memory limits: discharge_image $((image_memory_limit / 1024)) MB"
    echo "(3 day grids + 32 MiB), discharge_series 16 MB."

    # The tuned build must write exactly what the release build writes.
    echo
    echo "Comparing outputs with the tuned build..."
    digest_images() { (cd "$dir/large/output/image" && cat ./*_discharge.ppm | sha256sum | cut -d' ' -f1); }
    check() {
        local label=$1 input=$2 program=$3 output=$4
        local mine theirs
        (cd "$dir/$5/output" && printf '%s' "$input" | "$bin/$program" >"$dir/.console.bench")
        mine=$(cd "$dir/$5/output" && $output)
        (cd "$dir/$5/output" && printf '%s' "$input" | "$ref/$program" >"$dir/.console.ref")
        theirs=$(cd "$dir/$5/output" && $output)
        if [ "$mine" = "$theirs" ] && cmp -s "$dir/.console.bench" "$dir/.console.ref"; then
            echo "  $label: identical"
        else
            echo "  $label: DIFFERENT"
            status=1
        fi
    }
    export -f digest_images
    check "images, computed range" $'2019 7 n\n' image_renderer/discharge_image digest_images large
    check "images, typed range" $'2019 7 y 2000 0\n' image_renderer/discharge_image digest_images large
    check "series, middle cell" "$middle 2019 7"$'\n' series_extractor/discharge_series \
        "sha256sum 201907-${middle/ /-}_discharge.dat" large
    check "series, last cell" "$ncols $nrows 2019 7"$'\n' series_extractor/discharge_series \
        "sha256sum 201907-$ncols-${nrows}_discharge.dat" large
    check "series, sparse month" $'40000 20000 2019 7\n' series_extractor/discharge_series \
        "sha256sum 201907-40000-20000_discharge.dat" sparse
}

# The term part: six months of 400x300 drawn by discharge_term with two
# workers, against discharge_image run for each month in turn with the same
# typed range; and the term's range pass against cat of the six files.
six_images() {
    for month in 7 8 9 10 11 12; do
        printf '2019 %d y 2000 0\n' "$month" | "$bin/image_renderer/discharge_image" >/dev/null ||
            return 1
    done
}
# The same months drawn by discharge_term, its progress lines left out.
term_images() {
    "$bin/term_runner/discharge_term" images --jobs 2 --range 0,2000 --from 2019-07 --to 2019-12 \
        2>/dev/null
}
term_part() {
    local term=$dir/term
    rm -rf "$term"
    "$ref/tools/make_sample_run" "$term" --size 400x300 \
        --months 201907,201908,201909,201910,201911,201912 >/dev/null
    local out=$term/output
    local months=("$out"/2019*_dailyDischarge.bin)
    local term_program=$bin/term_runner/discharge_term
    local select=(--from 2019-07 --to 2019-12)
    export -f six_images term_images
    export bin
    local cases=(
        "term_images|bash -c term_images"
        "six_images|bash -c six_images"
    )
    echo "Timing $runs rounds of the term cases, side by side..."
    local round i repeat name command
    for ((round = 1; round <= runs; round++)); do
        for ((i = 0; i < ${#cases[@]}; i++)); do
            IFS='|' read -r name command <<<"${cases[(i + round) % ${#cases[@]}]}"
            rm -rf "$out/image"
            mkdir "$out/image"
            same_start "${months[@]}"
            # shellcheck disable=SC2086 # the command is split into its words
            run_case "$name" "$out" "" $command
        done
        sync
        for ((repeat = 0; repeat < 5; repeat++)); do
            run_case term_range "$out" "" "$term_program" range "${select[@]}"
            run_case term_read_floor "$out" "" cat "${months[@]}"
        done
        printf '  round %d of %d done\n' "$round" "$runs"
    done

    local worker_kb=$((3 * 400 * 300 * 4 / 1024 + 32 * 1024))
    echo
    echo "Six months of 400x300, $runs runs of the image cases (5 x $runs of the range); seconds"
    row_header
    row term_images six_images 0.8 $((2 * worker_kb))
    row six_images "" "" ""
    row term_range term_read_floor 1.2 "$worker_kb"
    row term_read_floor "" "" ""
    echo "Memory limit of discharge_term with two workers: $((2 * worker_kb / 1024)) MB"
    echo "(each 3 day grids + 32 MiB)."

    echo
    echo "Comparing the term's images with discharge_image's..."
    local term_digest six_digest
    rm -rf "$out/image" && mkdir "$out/image"
    (cd "$out" && term_images)
    term_digest=$(cd "$out/image" && cat ./*_discharge.ppm | sha256sum)
    rm -rf "$out/image" && mkdir "$out/image"
    (cd "$out" && six_images)
    six_digest=$(cd "$out/image" && cat ./*_discharge.ppm | sha256sum)
    if [ "$term_digest" = "$six_digest" ]; then
        echo "  six months, typed range: identical"
    else
        echo "  six months, typed range: DIFFERENT"
        status=1
    fi
}

# The PNG part: the large July drawn by discharge_term with one worker as PNG
# at 5 and at 1 pixels a cell, against the PPM month; then two months with two
# workers, PNG against PPM. Sizes are the images' bytes, legends aside.
png_part() {
    local png=$dir/png
    rm -rf "$png"
    "$ref/tools/make_sample_run" "$png" --size "$size" --months 201907,201908 >/dev/null
    local out=$png/output
    local months=("$out"/2019*_dailyDischarge.bin)
    local term_program=$bin/term_runner/discharge_term
    local july=(--range 0,2000 --from 2019-07 --to 2019-07 --jobs 1)
    local both=(--range 0,2000 --from 2019-07 --to 2019-08 --jobs 2)
    local cases=(
        "ppm_month|images ${july[*]}"
        "png5_month|images ${july[*]} --format png"
        "png1_month|images ${july[*]} --format png --scale 1"
        "ppm_two_months|images ${both[*]}"
        "png5_two_months|images ${both[*]} --format png"
    )
    declare -A bytes
    echo "Timing $runs rounds of the PNG cases, side by side..."
    local round i name arguments
    for ((round = 1; round <= runs; round++)); do
        for ((i = 0; i < ${#cases[@]}; i++)); do
            IFS='|' read -r name arguments <<<"${cases[(i + round) % ${#cases[@]}]}"
            rm -rf "$out/image"
            same_start "${months[@]}"
            # shellcheck disable=SC2086 # the arguments are split into their words
            run_case "$name" "$out" "" "$term_program" $arguments
            bytes[$name]=$(cat "$out"/image/*_discharge.* | wc -c)
        done
        printf '  round %d of %d done\n' "$round" "$runs"
    done
    rm -rf "$out/image"

    echo
    echo "$size July (and August), $runs runs of every case; seconds"
    row_header
    row ppm_month "" "" ""
    row png5_month ppm_month 3 ""
    row png1_month ppm_month 1 ""
    row ppm_two_months "" "" ""
    row png5_two_months ppm_two_months 3 ""
    echo "User and system CPU are medians."
    echo
    echo "Bytes of the images, and their share of the PPM's:"
    local against aim
    for name in ppm_month png5_month png1_month ppm_two_months png5_two_months; do
        case $name in
            png5_month) against=ppm_month aim=50 ;;
            png1_month) against=ppm_month aim=200 ;;
            png5_two_months) against=ppm_two_months aim=50 ;;
            *) against="" aim="" ;;
        esac
        if [ -n "$against" ]; then
            printf '  %-16s %13d  1/%.0f of %s (at most 1/%d: %s)\n' "$name" "${bytes[$name]}" \
                "$(ratio "${bytes[$against]}" "${bytes[$name]}")" "$against" "$aim" \
                "$(verdict "$aim" "$(ratio "${bytes[$against]}" "${bytes[$name]}")")"
        else
            printf '  %-16s %13d\n' "$name" "${bytes[$name]}"
        fi
    done
}

# The NetCDF part: a year of months (July to June) written into one NetCDF
# file by discharge_term with one thread compressing and with two, against
# the writer before the threads (netCDF-C compressing on the calling
# thread; the commit NETCDF_BASELINE, built in $dir/baseline) and against
# reading the months (cat); the files' values compared bit for bit. Then,
# each from a cold cache, one day's map and one cell's whole series read
# back from the file by Python's netCDF4 (as xarray reads it) and from the
# monthly files by numpy. Sizes: the file against the months.
NETCDF_BASELINE=188ea52
netcdf_baseline() {
    local source=$dir/baseline/src-$NETCDF_BASELINE
    if [ ! -x "$source/build/release/term_runner/discharge_term" ]; then
        echo "Building the writer of $NETCDF_BASELINE in $source..."
        rm -rf "$source"
        mkdir -p "$source"
        git archive "$NETCDF_BASELINE" | tar -x -C "$source"
        (cd "$source" && cmake --preset release >/dev/null &&
            cmake --build --preset release --target discharge_term >/dev/null)
    fi
    baseline_term=$source/build/release/term_runner/discharge_term
}

netcdf_part() {
    local year=$dir/netcdf
    netcdf_baseline
    rm -rf "$year"
    "$ref/tools/make_sample_run" "$year" --size "$size" \
        --months 201907,201908,201909,201910,201911,201912,202001,202002,202003,202004,202005,202006 \
        >/dev/null
    local out=$year/output
    local months=("$out"/20*_dailyDischarge.bin)
    local file=$year/year.nc
    # The year written, its progress lines left out: by the writer before
    # the threads, and with one thread and two.
    netcdf_write() {
        # shellcheck disable=SC2086 # the options are split into their words
        "$netcdf_term" netcdf --from 2019-07 --to 2020-06 $netcdf_options --output "$netcdf_file" \
            2>/dev/null
    }
    netcdf_file=$file
    export -f netcdf_write
    export netcdf_file
    local cases=(
        "netcdf_write_before|env netcdf_term=$baseline_term bash -c netcdf_write"
        "netcdf_write_1|env netcdf_term=$bin/term_runner/discharge_term netcdf_options=--jobs=1 bash -c netcdf_write"
        "netcdf_write_2|env netcdf_term=$bin/term_runner/discharge_term netcdf_options=--jobs=2 bash -c netcdf_write"
        "netcdf_read_floor|cat ${months[*]}"
    )
    echo "Timing $runs rounds of writing the year, side by side..."
    local round i name command
    for ((round = 1; round <= runs; round++)); do
        for ((i = 0; i < ${#cases[@]}; i++)); do
            IFS='|' read -r name command <<<"${cases[(i + round) % ${#cases[@]}]}"
            rm -f "$file"
            same_start
            # shellcheck disable=SC2086 # the command is split into its words
            run_case "$name" "$out" "" $command
        done
        printf '  round %d of %d done\n' "$round" "$runs"
    done
    local raw nc
    (cd "$out" && "$bin/term_runner/discharge_term" netcdf --from 2019-07 --to 2020-06 \
        --output "$file" 2>/dev/null)
    raw=$(cat "${months[@]}" | wc -c)
    nc=$(wc -c <"$file")
    local month_kb=$((31 * ncols * nrows * 4 / 1024))
    echo
    echo "$size, July 2019 to June 2020 (365 days, $raw bytes), $runs runs; seconds"
    row_header
    row netcdf_write_before netcdf_read_floor "" "$month_kb"
    row netcdf_write_1 netcdf_write_before "" "$month_kb"
    row netcdf_write_2 netcdf_write_before 0.50 "$month_kb"
    row netcdf_write_2 netcdf_write_1 "" ""
    row netcdf_read_floor "" "" ""
    echo "Memory limit: a month of grids, $((month_kb / 1024)) MB."
    awk -v r="$raw" -v n="$nc" -v t="$(median "${times[netcdf_write_2]}")" 'BEGIN {
        printf "Written at %.0f MB/s of days read; file %d bytes, %.1f%% of the months (1/%.2f)\n",
            r / 1e6 / t, n, 100 * n / r, r / n }'
    if /usr/bin/python3 -c 'import netCDF4, numpy' 2>/dev/null; then
        (cd "$out" && "$baseline_term" netcdf --from 2019-07 --to 2020-06 --output before.nc 2>/dev/null)
        if /usr/bin/python3 - "$file" "$out/before.nc" <<'PY'; then
import sys, netCDF4, numpy
values = []
for name in sys.argv[1:]:
    dataset = netCDF4.Dataset(name)
    dataset.set_auto_mask(False)
    values.append(dataset["discharge"][:].view("<u4"))
sys.exit(0 if numpy.array_equal(values[0], values[1]) else 1)
PY
            echo "The values written are those of the writer before, bit for bit."
        else
            echo "FAIL: the values written differ from the writer's before"
            status=1
        fi
        rm -f "$out/before.nc"
    fi
    echo
    if ! /usr/bin/python3 -c 'import netCDF4, numpy' 2>/dev/null; then
        echo "Reading back needs Debian's python3-netcdf4: skipped."
        return
    fi
    # Cold reads of day 200 and of a cell, each a different one each round,
    # so that nothing read before helps.
    declare -A reads
    local kind source seconds
    echo "Timing $runs rounds of cold reads, side by side..."
    for ((round = 1; round <= runs; round++)); do
        for kind in map series; do
            for source in "$file" "$out"; do
                same_start
                seconds=$(bench/netcdf_read.py "$kind" "$source" $((100 + round)) \
                    "$((ncols * round / (runs + 1))),$((nrows * round / (runs + 1) + 1))" |
                    cut -d' ' -f1)
                name=${kind}_$([ "$source" = "$file" ] && echo netcdf || echo months)
                reads[$name]+="$seconds "
            done
        done
    done
    echo "Cold reads, seconds (the reading alone, Python's start left out):"
    printf '  %-15s %8s %8s  %s\n' read median fastest "ratio to the months, median"
    for name in map_netcdf map_months series_netcdf series_months; do
        printf '  %-15s %8.4f %8.4f  %s\n' "$name" "$(median "${reads[$name]}")" \
            "$(fastest "${reads[$name]}")" \
            "$(ratio "$(median "${reads[$name]}")" "$(median "${reads[${name%_*}_months]}")")"
    done
    rm -f "$file"
}

# The annotate part: the large July drawn by discharge_term as PNG at 5
# pixels a cell, plain (the baseline) and with --annotate; as one looping
# GIF at one pixel a cell (animate), in the default colours and with the log
# stretch; and as PNG in the log stretch, classic and viridis (what colours
# cost). Sizes are the images' bytes (legends aside) and the GIFs'.
annotate_part() {
    local work=$dir/annotate
    rm -rf "$work"
    "$ref/tools/make_sample_run" "$work" --size "$size" --months 201907 >/dev/null
    local out=$work/output
    local data=$out/201907_dailyDischarge.bin
    local term_program=$bin/term_runner/discharge_term
    local png5=(images --format png --scale 5 --force)
    local cases=(
        "png5_plain|${png5[*]}|image"
        "png5_annotated|${png5[*]} --annotate|image"
        "png5_log|${png5[*]} --stretch log|image"
        "png5_log_viridis|${png5[*]} --stretch log --palette viridis|image"
        "gif_month|animate --scale 1 --output $work/month.gif|$work/month.gif"
        "gif_month_log|animate --scale 1 --stretch log --output $work/month_log.gif|$work/month_log.gif"
    )
    declare -A bytes
    echo "Timing $runs rounds of the annotation cases, side by side..."
    local round i name arguments output
    for ((round = 1; round <= runs; round++)); do
        for ((i = 0; i < ${#cases[@]}; i++)); do
            IFS='|' read -r name arguments output <<<"${cases[(i + round) % ${#cases[@]}]}"
            rm -rf "$out/image" "$work"/*.gif
            same_start "$data"
            # shellcheck disable=SC2086 # the arguments are split into their words
            run_case "$name" "$out" "" "$term_program" $arguments
            if [ "$output" = image ]; then
                bytes[$name]=$(cat "$out"/image/*_discharge.png | wc -c)
                bytes[${name}_legend]=$(wc -c <"$out/image/legend_201907.png")
            else
                bytes[$name]=$(wc -c <"$output")
            fi
        done
        printf '  round %d of %d done\n' "$round" "$runs"
    done
    rm -rf "$out/image" "$work"/*.gif

    echo
    echo "$size July, $runs runs of every case; seconds; ratios to the plain PNG month"
    row_header
    for name in png5_plain png5_annotated png5_log png5_log_viridis gif_month gif_month_log; do
        if [ "$name" = png5_plain ]; then
            row "$name" "" "" ""
        else
            row "$name" png5_plain "" ""
        fi
    done
    echo "User and system CPU are medians."
    echo
    echo "Bytes of the month (31 images, the legend aside; or the GIF of 31 frames):"
    for name in png5_plain png5_annotated png5_log png5_log_viridis gif_month gif_month_log; do
        printf '  %-17s %11d  %6.2f MB  %5.0f kB a day  %.2f of png5_plain\n' "$name" \
            "${bytes[$name]}" "$(awk -v b="${bytes[$name]}" 'BEGIN { print b / 1e6 }')" \
            "$(awk -v b="${bytes[$name]}" 'BEGIN { print b / 31e3 }')" \
            "$(ratio "${bytes[$name]}" "${bytes[png5_plain]}")"
    done
    echo "  (legend_201907.png: ${bytes[png5_plain_legend]} bytes, the log stretch's" \
        "${bytes[png5_log_legend]}, viridis ${bytes[png5_log_viridis_legend]})"

    # The tuned build must write exactly what the release build writes.
    echo
    echo "Comparing the annotated month and the GIFs with the tuned build..."
    local program digests compared
    for compared in "${png5[*]} --annotate --stretch log|image/*.png" \
        "animate --scale 1 --stretch log|./*.gif"; do
        IFS='|' read -r arguments output <<<"$compared"
        digests=()
        for program in "$bin" "$ref"; do
            rm -rf "$out/image" "$out"/*.gif
            # shellcheck disable=SC2086 # the arguments and the files are split into their words
            if (cd "$out" && "$program/term_runner/discharge_term" $arguments 2>/dev/null); then
                digests+=("$(cd "$out" && cat $output | sha256sum | cut -d' ' -f1)")
            else
                digests+=("failed")
            fi
        done
        if [ "${digests[0]}" = "${digests[1]}" ] && [ "${digests[0]}" != failed ]; then
            echo "  $arguments: identical"
        else
            echo "  $arguments: DIFFERENT (${digests[*]})"
            status=1
        fi
    done
    rm -rf "$out/image" "$out"/*.gif
}

# The gauges part: 1,000 gauges at cells spread over the grid, scored over
# ten years (2010 to 2019, 3,652 days) against an observed file of them all,
# each writing metrics.csv, a CSV and an SVG a gauge and the page; against
# its floor, reading the months (cat) and making the same files (cp), and
# against the same run for one gauge (what reading the observations and the
# months' files costs without the many cells). Memory: the
# series themselves are a simulated and an observed value (8 bytes each) a
# gauge and day.
gauges_part() {
    local work=$dir/gauges
    local first=2010 last=2019 count=1000
    local months="" year month
    for ((year = first; year <= last; year++)); do
        for month in 01 02 03 04 05 06 07 08 09 10 11 12; do
            months+="${months:+,}$year$month"
        done
    done
    # The months are kept between runs of the benchmark: they take minutes.
    if [ ! -f "$work/.size-$size" ]; then
        rm -rf "$work"
        echo "Writing ten years of $size months (once; kept in $work)..."
        "$ref/tools/make_sample_run" "$work" --size "$size" --months "$months" >/dev/null
        touch "$work/.size-$size"
    fi
    local out=$work/output
    local files=("$out"/20*_dailyDischarge.bin)
    # The gauges on a lattice over the grid, and their observations: each a
    # number a day, a tenth of them missing.
    awk -v n="$count" -v c="$ncols" -v r="$nrows" 'BEGIN {
        print "id,name,column,row"
        for (i = 0; i < n; i++)
            printf "G%04d,gauge %d,%d,%d\n", i, i, 1 + (i * 7919) % c, 1 + int(i * r / n)
    }' >"$work/many_gauges.csv"
    printf 'id,column,row\nG0000,1,1\n' >"$work/one_gauge.csv"
    awk -v n="$count" -v first="$first" -v last="$last" 'BEGIN {
        srand(1)
        printf "date"
        for (i = 0; i < n; i++) printf ",G%04d", i
        printf "\n"
        split("31 28 31 30 31 30 31 31 30 31 30 31", length_of, " ")
        for (y = first; y <= last; y++)
            for (m = 1; m <= 12; m++) {
                days = length_of[m] + (m == 2 && y % 4 == 0)
                for (d = 1; d <= days; d++) {
                    printf "%04d-%02d-%02d", y, m, d
                    for (i = 0; i < n; i++)
                        if (rand() < 0.1) printf ","
                        else printf ",%.3f", 100 * rand()
                    printf "\n"
                }
            }
    }' >"$work/observed.csv"
    gauges_run() {
        rm -rf "$gauges_out"
        "$bin/term_runner/discharge_term" gauges --gauges "$1" --observed "$gauges_observed" \
            --output "$gauges_out" 2>/dev/null
    }
    gauges_many() { gauges_run "$gauges_dir/many_gauges.csv"; }
    # The same with the outputs in memory (tmpfs): the run without the cost
    # of making files on the disk's file system.
    gauges_many_tmpfs() {
        rm -rf /dev/shm/gauges_bench
        "$bin/term_runner/discharge_term" gauges --gauges "$gauges_dir/many_gauges.csv" \
            --observed "$gauges_observed" --output /dev/shm/gauges_bench 2>/dev/null
        rm -rf /dev/shm/gauges_bench
    }
    gauges_one() { gauges_run "$gauges_dir/one_gauge.csv"; }
    gauges_out=$work/scores
    gauges_observed=$work/observed.csv
    # The floor of the run: reading the months, and making the 2,001 files
    # of the outputs (a copy of them, made once before).
    gauges_floor() {
        cat "$gauges_dir"/output/20*_dailyDischarge.bin >/dev/null
        rm -rf "$gauges_out" && cp -r "$gauges_dir/scores_kept" "$gauges_out"
    }
    gauges_dir=$work
    export -f gauges_run gauges_many gauges_many_tmpfs gauges_one gauges_floor
    export bin gauges_out gauges_observed gauges_dir
    (cd "$out" && gauges_many) && rm -rf "$work/scores_kept" && mv "$gauges_out" "$work/scores_kept"
    local cases=(
        "gauges_1000|bash -c gauges_many"
        "gauges_1000_tmpfs|bash -c gauges_many_tmpfs"
        "gauges_one|bash -c gauges_one"
        "gauges_read_floor|cat ${files[*]}"
        "gauges_floor|bash -c gauges_floor"
    )
    echo "Timing $runs rounds of the gauge cases, side by side..."
    local round i name command
    for ((round = 1; round <= runs; round++)); do
        for ((i = 0; i < ${#cases[@]}; i++)); do
            IFS='|' read -r name command <<<"${cases[(i + round) % ${#cases[@]}]}"
            rm -rf "$gauges_out"
            same_start
            # shellcheck disable=SC2086 # the command is split into its words
            run_case "$name" "$out" "" $command
        done
        printf '  round %d of %d done\n' "$round" "$runs"
    done
    local days=3652
    local series_kb=$((count * days * 16 / 1024))
    local written
    written=$(du -sk "$work/scores_kept" | cut -f1)
    echo
    echo "$count gauges, $size, $first to $last ($days days, $(cat "${files[@]}" | wc -c) bytes" \
        "of months, observed.csv $(wc -c <"$work/observed.csv") bytes), $runs runs; seconds"
    row_header
    row gauges_1000 gauges_floor 1.2 $((2 * series_kb + 32 * 1024))
    row gauges_1000_tmpfs gauges_read_floor 1.2 $((2 * series_kb + 32 * 1024))
    row gauges_one gauges_read_floor "" ""
    row gauges_read_floor "" "" ""
    row gauges_floor gauges_read_floor "" ""
    echo "User and system CPU are medians. Memory limit: twice the series themselves"
    echo "($count x $days x 16 bytes = $((series_kb / 1024)) MB) + 32 MiB. Written: $((written / 1024)) MB"
    echo "in $(find "$work/scores_kept" -type f | wc -l) files."
    rm -rf "$gauges_out" "$work/scores_kept"
}

case $part in
    month) month_part ;;
    term) term_part ;;
    png) png_part ;;
    netcdf) netcdf_part ;;
    annotate) annotate_part ;;
    gauges) gauges_part ;;
    *) month_part; term_part; png_part; netcdf_part; annotate_part; gauges_part ;;
esac
exit $status
