#!/usr/bin/env bash
# Builds the release packages into build/packages: a zip for 32-bit and for
# 64-bit Windows, and a tar.gz and a Debian package for Linux x86-64.
set -euo pipefail
cd "$(dirname "$0")/.."
for platform in windows-x86 windows-x64 linux-x86-64; do
    cmake --workflow --preset "package-$platform"
done
echo
echo "Packages in build/packages:"
ls -l build/packages/*.zip build/packages/*.tar.gz build/packages/*.deb
