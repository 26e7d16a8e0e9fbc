#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time from the
# committed seed corpus. Any crash or broken guarantee fails the script and
# leaves its input in build/fuzz-scratch/.
#
#   fuzz/run_fuzzers.sh [SECONDS_PER_TARGET] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(fuzz_run_parameters fuzz_series_dialogue fuzz_image_dialogue fuzz_monthly_file
        fuzz_month_record fuzz_text_drawing)
fi

cmake --preset fuzz
cmake --build --preset fuzz

# The targets work in a run tree of their own, so every path given to
# libFuzzer is absolute. New inputs go to a scratch corpus, never into the
# committed seeds.
scratch=$PWD/build/fuzz-scratch
for target in "${targets[@]}"; do
    mkdir -p "$scratch/$target"
    log=$scratch/$target.log
    if ! build/fuzz/fuzz/$target -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$scratch/$target-" \
        "$scratch/$target" "$PWD/fuzz/corpus/$target" >"$log" 2>&1; then
        echo "$target: FAILED, see $log"
        tail -n 40 "$log"
        exit 1
    fi
    runs=$(awk '/^stat::number_of_executed_units/ { print $2 }' "$log")
    rate=$(awk '/^stat::average_exec_per_sec/ { print $2 }' "$log")
    coverage=$(awk '/DONE/ { for (i = 1; i < NF; ++i) if ($i == "cov:") print $(i + 1) }' "$log")
    echo "$target: $runs executions in ${seconds} s ($rate/s), coverage $coverage, no crash"
done
