#!/usr/bin/env bash
# Cuts the term into the slices of a batch, in the simulation's output
# directory where it is started, before the batch runs (it reads only
# ../param.dat):
#
#   prepare.sh [--from YYYY-MM] [--to YYYY-MM] [--months N] [--cell C,R]...
#              [--stretch S] [--palette P] [--units TEXT] [-- IMAGES OPTIONS...]
#
# It writes ./slices/slices.txt, a slice a line ("YYYY-MM YYYY-MM", from
# `discharge_term slices`, 12 months a slice by default), and
# ./slices/settings, which the other phases read: the program, the cells
# whose series are written, the colours, the units of the discharge (for the
# page, the series, the NetCDF file and annotated images; m3 s-1 by default)
# and the options of `images` (such as --format png). It checks the colours first, as the program takes them
# (the cells and the images options are checked by the tasks). It prints the
# number of slices. A ./slices/ of another batch (other slices or settings)
# is left alone, and it stops with status 1: remove ./slices/ to start a new
# batch. Where the simulation's files changed since the batch's range was
# found, the range is found again and every slice drawn again. The program
# is $DISCHARGE_TERM, or discharge_term on the PATH.
set -euo pipefail
source "$(dirname "$0")/batch.sh"
offer_help "${1:-}"

selection=() months=12 cells=() stretch=sqrt palette=classic units="m3 s-1" images_options=()
while [ $# -gt 0 ]; do
    case "$1" in
        --) shift; images_options=("$@"); break ;;
        --from | --to | --months | --cell | --stretch | --palette | --units)
            [ $# -ge 2 ] || { echo "prepare.sh: $1 needs a value" >&2; exit 2; } ;;&
        --from | --to) selection+=("$1" "$2"); shift 2 ;;
        --months) months=$2; shift 2 ;;
        --cell) cells+=("$2"); shift 2 ;;
        --stretch) stretch=$2; shift 2 ;;
        --palette) palette=$2; shift 2 ;;
        --units) units=$2; shift 2 ;;
        *) echo "prepare.sh: unknown option $1 (--help lists them)" >&2; exit 2 ;;
    esac
done

# The program by its own path, however it was named.
if ! found=$(command -v "${DISCHARGE_TERM:-discharge_term}"); then
    echo "prepare.sh: ${DISCHARGE_TERM:-discharge_term} is not found" >&2
    exit 1
fi
program=$(realpath "$found")
if [ ! -e ../param.dat ]; then
    echo "prepare.sh: there is no ../param.dat: run it in the simulation's output directory" >&2
    exit 1
fi

made_slices=false
[ -d slices ] || { mkdir slices; made_slices=true; }
work=$(mktemp -d slices/.prepare.XXXXXX)
# A ./slices/ made for a batch that could not begin goes again.
clean_up() {
    local status=$?
    rm -rf "$work"
    if [ $status -ne 0 ] && $made_slices; then rmdir slices; fi
}
trap clean_up EXIT
"$program" "${selection[@]}" slices --months "$months" >"$work/slices.txt"
# The colours, as the program takes them, before a cluster finds them wrong:
# a legend drawn with them (of a range every stretch takes).
"$program" legend --range 1,2 --stretch "$stretch" --palette "$palette" "$work/legend.ppm"
# Global wherever they are read (read_settings reads them in a function).
declare -p program cells stretch palette units images_options | sed 's/^declare /declare -g /' \
    >"$work/settings"
for file in slices.txt settings; do
    if [ -e "slices/$file" ] && ! cmp -s "$work/$file" "slices/$file"; then
        echo "prepare.sh: ./slices/ holds another batch's $file: remove ./slices/ to start a new one" >&2
        exit 1
    fi
done
if [ -e slices/range.txt ] && [ "$(data_stamps)" != "$(cat slices/range.stamps 2>/dev/null)" ]; then
    echo "prepare.sh: the simulation's files changed since the batch's range was found: it is" \
        "found again, and every slice drawn again" >&2
    rm -f slices/range.txt slices/range.stamps slices/parallel.log
fi
mv "$work/slices.txt" "$work/settings" slices/
wc -l <slices/slices.txt
