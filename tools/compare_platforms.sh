#!/usr/bin/env bash
# Runs discharge_term of every platform built under build/ (release, and the
# cross builds under wine and qemu-user) on the sample run, and checks that
# each writes the very bytes the native build writes: PNG and PPM images at
# two scales, in each stretch and palette, annotated, an animation, PNG
# legends, two cells' series and the gauges' scores and hydrographs (text compared without its
# line ends, CR LF on Windows). The month records hold file times, which
# differ from run to run, and are left out. The NetCDF file is NetCDF-4
# natively and the classic format in the cross builds: it is compared as
# ncdump prints it, every value and attribute, its history (the time and the
# command) and the time dimension's kind aside.
#
#   tools/compare_platforms.sh
#
# Builds nothing: run it after the presets' workflows. Exit status 1 when an
# output differs.
set -euo pipefail
cd "$(dirname "$0")/.."

command -v ncdump >/dev/null || { echo "ncdump (Debian's netcdf-bin) is needed" >&2; exit 1; }
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
build/release/tools/make_sample_run "$root/sample" >/dev/null

# The command that runs a platform's discharge_term, as its tests run it.
launcher() {
    local platform=$1 build=$PWD/build/$1
    case $platform in
        release) echo "$build/term_runner/discharge_term" ;;
        windows-*)
            local loader
            loader=$(sed -n 's/^DISCHARGE_WINE_LOADER:[A-Z]*=//p' "$build/CMakeCache.txt")
            echo "$PWD/cmake/run-under-wine.sh $loader $build/wine-prefix $build/term_runner/discharge_term.exe" ;;
        linux-arm64) echo "qemu-aarch64 -L /usr/aarch64-linux-gnu $build/term_runner/discharge_term" ;;
        linux-s390x) echo "qemu-s390x -L /usr/s390x-linux-gnu $build/term_runner/discharge_term" ;;
    esac
}

# Every output of one platform's runs, in $root/<platform>.
run_platform() {
    local platform=$1 term
    term=$(launcher "$platform")
    mkdir -p "$root/$platform/output"
    cp "$root/sample/param.dat" "$root/$platform/"
    cp "$root/sample/output"/*_dailyDischarge.bin "$root/$platform/output/"
    cp "$root/sample/gauges.csv" "$root/sample/observed.csv" "$root/$platform/"
    (
        cd "$root/$platform/output"
        # shellcheck disable=SC2086 # the launcher is split into its words
        {
            $term images --format png --range 0,2000 --jobs 2
            $term images --range month --scale 2 --from 2019-07 --to 2019-07
            $term legend --range 0.0199999996,1902.24597 legend.png
            $term legend --range 0.0199999996,1902.24597 --stretch log --palette cividis legend-log.png
            $term images --format png --scale 1 --stretch log --palette viridis --annotate \
                --from 2019-08 --to 2019-08
            $term images --stretch linear --palette cividis --annotate --units 'mm d-1' \
                --from 2019-09 --to 2019-09
            $term animate --from 2019-07 --to 2019-08 --every 3 --stretch log --scale 2
            $term series --cell 46,14 --cell 39,27 --csv
            $term netcdf --leap-day --cell-size 0.25 --output term.nc
            $term gauges --gauges ../gauges.csv --observed ../observed.csv
        } >/dev/null 2>"$root/$platform.log"
    ) || { echo "$platform: a run failed:"; cat "$root/$platform.log"; return 1; }
}

platforms=()
for platform in release windows-x64 windows-x86 linux-arm64 linux-s390x; do
    if [ -f "build/$platform/term_runner/discharge_term" ] ||
        [ -f "build/$platform/term_runner/discharge_term.exe" ]; then
        platforms+=("$platform")
    fi
done
# Some machines cannot run wine's 32-bit loader (.ci/run tells).
if [[ " ${platforms[*]} " == *" windows-x86 "* ]] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo "windows-x86: not compared, this machine does not run 32-bit x86 programs"
    platforms=("${platforms[@]/windows-x86/}")
    mapfile -t platforms < <(printf '%s\n' "${platforms[@]}" | grep .)
fi
[ "${platforms[0]:-}" = release ] || { echo "build/release is not built" >&2; exit 1; }
status=0
for platform in "${platforms[@]}"; do
    if [[ $platform == windows-* ]]; then
        eval "$(launcher "$platform" | cut -d' ' -f1-3) --start-session"
    fi
    run_platform "$platform" || status=1
    if [[ $platform == windows-* ]]; then
        eval "$(launcher "$platform" | cut -d' ' -f1-3) --end-session"
    fi
done
[ $status -eq 0 ] || exit 1

# A NetCDF file as ncdump prints it, but for its history and whether time is
# the record dimension.
netcdf_text() {
    ncdump "$1" | sed -e '/:history = /d' -e '1d' \
        -e 's|time = UNLIMITED ; // (\([0-9]*\) currently)|time = \1 ;|'
}

# The native outputs, each compared with the same file of every platform.
cd "$root/release/output"
mapfile -t outputs < <(find . -type f ! -name '*_range.txt' ! -name '.*.lock' \
    ! -name '*_dailyDischarge.bin' | sort)
for platform in "${platforms[@]:1}"; do
    differing=0
    for file in "${outputs[@]}"; do
        theirs=$root/$platform/output/$file
        if [[ $file == *.nc ]]; then
            cmp -s <(netcdf_text "$file") <(netcdf_text "$theirs") ||
                { echo "  $platform: $file differs"; differing=1; }
        elif [[ $file == *.dat || $file == *.csv ]]; then
            cmp -s "$file" <(tr -d '\r' <"$theirs") || { echo "  $platform: $file differs"; differing=1; }
        else
            cmp -s "$file" "$theirs" || { echo "  $platform: $file differs"; differing=1; }
        fi
    done
    mine=$(find . -type f | wc -l)
    theirs=$(cd "$root/$platform/output" && find . -type f | wc -l)
    [ "$mine" = "$theirs" ] || { echo "  $platform: $theirs files, where release has $mine"; differing=1; }
    if [ $differing -eq 0 ]; then
        echo "$platform: all ${#outputs[@]} outputs identical to the native build's"
    else
        status=1
    fi
done
exit $status
