#!/usr/bin/env bash
# shellcheck disable=SC2154 # the settings come from slices/settings
# The last phase of a batch, one task once every slice is drawn: joins the
# slices into what one run over the whole term writes.
# - The NetCDF files, by NCO's ncrcat, into ./YYYYMM-YYYYMM_discharge.nc
#   (the term's first and last month): the file `discharge_term netcdf`
#   writes of the whole term, its history that of the first slice.
# - The cells' series, month after month, into ./YYYYMM-YYYYMM-C-R_discharge.dat
#   and .csv.
# - The page: the months of the slices' pages are moved into ./view/data/,
#   where a `view` of the whole term finds them up to date and writes the
#   page of the whole term around them.
# What the slices hold stays in ./slices/ (the pages' months excepted):
# remove it once the term is joined.
set -euo pipefail
# shellcheck source=/dev/null # the settings that prepare.sh wrote
source slices/settings

label() { echo "${1/-/}"; }
first=$(head -n 1 slices/slices.txt) last=$(tail -n 1 slices/slices.txt)
first=${first% *} last=${last#* }
whole=$(label "$first")-$(label "$last")
names=()
while read -r from to; do names+=("$(label "$from")-$(label "$to")"); done <slices/slices.txt

netcdf_files=()
for name in "${names[@]}"; do netcdf_files+=("slices/${name}_discharge.nc"); done
# ncrcat writes a temporary file and renames it: the file appears whole.
# -h: no line of its own in the history, --no_cll_mth: no cell_methods of
# its own on time.
ncrcat -O -h --no_cll_mth "${netcdf_files[@]}" "./${whole}_discharge.nc"

for cell in "${cells[@]}"; do
    for extension in dat csv; do
        joined=$(mktemp "./.join.XXXXXX")
        for name in "${names[@]}"; do
            part="slices/$name-${cell/,/-}_discharge.$extension"
            # A CSV's header once, at the top.
            if [ "$extension" = csv ] && [ "$name" != "${names[0]}" ]; then
                tail -n +2 "$part" >>"$joined"
            else
                cat "$part" >>"$joined"
            fi
        done
        chmod 644 "$joined"
        mv "$joined" "./$whole-${cell/,/-}_discharge.$extension"
    done
done

mkdir -p view/data
for name in "${names[@]}"; do
    for script in "slices/view_$name"/data/[0-9]*.js; do
        [ -e "$script" ] && mv "$script" view/data/
    done
done
cell_options=()
for cell in "${cells[@]}"; do cell_options+=(--cell "$cell"); done
"$program" --from "$first" --to "$last" view --range "$(cat slices/range.txt)" \
    --stretch "$stretch" --palette "$palette" "${cell_options[@]}"
