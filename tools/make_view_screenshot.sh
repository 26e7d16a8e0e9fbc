#!/usr/bin/env bash
# Makes docs/view_201907.png, the picture of the view page in the README: the
# sample run's whole term written by `discharge_term view` with two cells of
# exact values, opened on 12 July 2019 with the main river's cell pinned, as
# headless Chromium shows it at 1200 x 900 pixels.
#
#   tools/make_view_screenshot.sh
#
# Needs the release build (cmake --build --preset release) and chromium.
set -euo pipefail
cd "$(dirname "$0")/.."

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
build/release/tools/make_sample_run "$root/sample" >/dev/null
(cd "$root/sample/output" &&
    "$OLDPWD/build/release/term_runner/discharge_term" view --cell 46,14 --cell 39,27 2>/dev/null)
chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --virtual-time-budget=20000 \
    --window-size=1200,900 --screenshot="$PWD/docs/view_201907.png" \
    "file://$root/sample/output/view/index.html#day=2019-07-12&cell=46,14" 2>/dev/null
echo "Wrote docs/view_201907.png"
