#!/usr/bin/env bash
# shellcheck disable=SC2154 # the settings come from slices/settings
# The last phase of a batch, one task once every slice is drawn: joins the
# slices into what one run over the whole term with its range writes.
# - The NetCDF files, by NCO's ncrcat, into ./YYYYMM-YYYYMM_discharge.nc
#   (the term's first and last month): the values, coordinates and
#   attributes of the file `discharge_term netcdf` writes of the whole term,
#   its history that of the first slice.
# - The cells' series, month after month, into
#   ./YYYYMM-YYYYMM-C-R_discharge.dat and .csv.
# - The page: the months of the slices' pages are linked into ./view/data/,
#   where a `view` of the whole term finds them up to date and writes the
#   page of the whole term around them.
# Nothing is joined unless every slice's files are there; each file joined
# appears whole. ./slices/ can be removed once the term is joined.
set -euo pipefail
source "$(dirname "$0")/batch.sh"
offer_help "${1:-}"
read_settings

first=$(head -n 1 slices/slices.txt) last=$(tail -n 1 slices/slices.txt)
first=${first% *} last=${last#* }
whole=$(label "$first")-$(label "$last")
mapfile -t names < <(slice_names)

# Every slice's files, or nothing joined.
parts=() missing=()
for name in "${names[@]}"; do
    wanted=("slices/${name}_discharge.nc" "slices/view_$name/data")
    for cell in "${cells[@]}"; do
        wanted+=("slices/$name-${cell/,/-}_discharge.dat" "slices/$name-${cell/,/-}_discharge.csv")
    done
    for part in "${wanted[@]}"; do
        [ -e "$part" ] || missing+=("$part")
    done
    parts+=("slices/${name}_discharge.nc")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "join_slices.sh: nothing joined: the slices lack ${missing[*]}" >&2
    exit 1
fi

# Each joined file under a temporary name until all are.
temporaries=()
trap 'rm -f "${temporaries[@]}"' EXIT
temporary() {
    temporaries+=("$(mktemp "./.join.XXXXXX")")
    chmod 644 "${temporaries[-1]}"
}
temporary
# -h: no line of its own in the history, --no_cll_mth: no cell_methods of
# its own on time, --no_tmp_fl: straight into the temporary.
ncrcat -O -h --no_cll_mth --no_tmp_fl "${parts[@]}" "${temporaries[-1]}"
joined=("./${whole}_discharge.nc")
for cell in "${cells[@]}"; do
    for extension in dat csv; do
        temporary
        for name in "${names[@]}"; do
            part="slices/$name-${cell/,/-}_discharge.$extension"
            # A CSV's header once, at the top.
            if [ "$extension" = csv ] && [ "$name" != "${names[0]}" ]; then
                tail -n +2 "$part" >>"${temporaries[-1]}"
            else
                cat "$part" >>"${temporaries[-1]}"
            fi
        done
        joined+=("./$whole-${cell/,/-}_discharge.$extension")
    done
done
for i in "${!joined[@]}"; do mv "${temporaries[$i]}" "${joined[$i]}"; done
temporaries=()

# The slices' page months stay theirs too (linked, or copied where links
# cannot be made), so that a slice drawn again finds its own up to date.
mkdir -p view/data
for name in "${names[@]}"; do
    for script in "slices/view_$name"/data/[0-9]*.js; do
        if [ ! -e "$script" ] || [ "$script" -ef "view/data/${script##*/}" ]; then
            continue
        fi
        ln -f "$script" view/data/ 2>/dev/null || cp -p "$script" view/data/
    done
done
cell_options=()
for cell in "${cells[@]}"; do cell_options+=(--cell "$cell"); done
"$program" --from "$first" --to "$last" view --range "$(cat slices/range.txt)" \
    --stretch "$stretch" --palette "$palette" --units "$units" "${cell_options[@]}"
