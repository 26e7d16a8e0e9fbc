# shellcheck shell=bash
# What the scripts of a batch share, sourced by each: their help, the
# batch's settings in ./slices/, the slices' names and the simulation's
# files as they are.

# -h or --help: prints the comment at the top of the script, then ends.
offer_help() {
    case "${1:-}" in
        -h | --help)
            awk 'NR > 1 && /^# shellcheck/ { next } NR > 1 && /^#/ { sub(/^# ?/, ""); print; next }
                 NR > 1 { exit }' "$0"
            exit 0
            ;;
    esac
}

# The name of the script, for its messages.
script_name() { basename "$0"; }

# Reads the settings of the batch that prepare.sh began in this output
# directory, or says there is none and ends with status 1.
read_settings() {
    if [ ! -f slices/settings ] || [ ! -f slices/slices.txt ]; then
        echo "$(script_name): no batch here (./slices/settings): run it in the simulation's" \
            "output directory, after prepare.sh" >&2
        exit 1
    fi
    # shellcheck source=/dev/null # written by prepare.sh
    source slices/settings
}

# "YYYYMM" of "YYYY-MM".
label() { echo "${1/-/}"; }

# The slices' names, "YYYYMM-YYYYMM", a line each, in order.
slice_names() {
    local from to
    while read -r from to; do echo "$(label "$from")-$(label "$to")"; done <slices/slices.txt
}

# ../param.dat and the monthly files as they are now: a line a file, its
# name, size and time. The range of a batch holds while they are unchanged.
data_stamps() {
    stat -c '%n %s %.9Y' ../param.dat ./[0-9][0-9][0-9][0-9][0-9][0-9]_dailyDischarge.bin \
        2>/dev/null || true
}

# Whether $1 is a whole number from 1.
is_count() { [[ $1 =~ ^[1-9][0-9]{0,8}$ ]]; }
