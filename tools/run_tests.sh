#!/usr/bin/env bash
# Builds everything and runs every test on this machine: first installs the
# Debian packages the build and the tests need where they are missing
# (tools/install_dependencies.sh), then runs the `test` workflow: configure,
# build with warnings as errors, and CTest. The view page's script is
# checked by node first.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install_dependencies.sh test
node --check term_runner/view/view.js
cmake --workflow --preset test
