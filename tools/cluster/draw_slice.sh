#!/usr/bin/env bash
# shellcheck disable=SC2154 # the settings come from slices/settings
# The second phase of a batch, a task a slice: draws slice N (the Nth line
# of ./slices/slices.txt; by default $SLURM_ARRAY_TASK_ID) with the range of
# the whole term:
#
#   draw_slice.sh [N]
#
# its images into ./image/, its page into ./slices/view_YYYYMM-YYYYMM/, its
# NetCDF file as ./slices/YYYYMM-YYYYMM_discharge.nc and the series of the
# cells as ./slices/YYYYMM-YYYYMM-C-R_discharge.dat and .csv. Each part is
# done even where another failed; the status is 1 if any did. Months up to
# date, and a page's months, are not drawn again, so a task run again does
# only what is left; a month another task is drawing is left to it and
# reported busy (status 1).
set -euo pipefail
source "$(dirname "$0")/batch.sh"
offer_help "${1:-}"
read_settings

n=${1:-${SLURM_ARRAY_TASK_ID:-}}
count=$(wc -l <slices/slices.txt)
if ! is_count "$n" || [ "$n" -gt "$count" ]; then
    echo "draw_slice.sh: no slice '$n': ./slices/slices.txt holds slices 1 to $count" >&2
    exit 2
fi
slice=$(sed -n "${n}p" slices/slices.txt)
from=${slice% *} to=${slice#* }
name=$(label "$from")-$(label "$to")
echo "draw_slice.sh: slice $n, $from to $to" >&2
range=$(cat slices/range.txt)
colours=(--range "$range" --stretch "$stretch" --palette "$palette")
# Images name the units only where annotated.
image_units=()
for option in "${images_options[@]}"; do
    [ "$option" != --annotate ] || image_units=(--units "$units")
done
status=0
"$program" --from "$from" --to "$to" images "${colours[@]}" "${images_options[@]}" \
    "${image_units[@]}" || status=1
"$program" --from "$from" --to "$to" view "${colours[@]}" --units "$units" \
    --output "slices/view_$name" || status=1
"$program" --from "$from" --to "$to" netcdf --units "$units" \
    --output "slices/${name}_discharge.nc" || status=1
if [ ${#cells[@]} -gt 0 ]; then
    cell_options=()
    for cell in "${cells[@]}"; do cell_options+=(--cell "$cell"); done
    if "$program" --from "$from" --to "$to" series "${cell_options[@]}" --csv --units "$units"; then
        for cell in "${cells[@]}"; do
            for extension in dat csv; do
                mv "./$name-${cell/,/-}_discharge.$extension" slices/
            done
        done
    else
        status=1
    fi
fi
[ $status -eq 0 ] || echo "draw_slice.sh: slice $n, $from to $to, failed" >&2
exit $status
