#!/usr/bin/env bash
# Fetches and unpacks Debian's source package of giflib into
# /usr/local/src/giflib, unless it is there already.
#
# Debian has no giflib for MinGW-w64, and its packages for the Linux cross
# targets are as hard to install beside the build machine's as zlib's: the
# cross builds compile giflib's encoder and decoder themselves
# (cmake/giflib-from-source.cmake), from Debian's source package with
# Debian's patches applied. The deb-src source is added, where the machine
# has none, as for netCDF's (tools/fetch_netcdf_source.sh). Run as root, as
# .ci/run is.
set -euo pipefail
# shellcheck source=tools/fetch_netcdf_source.sh
source "$(dirname "$0")/fetch_netcdf_source.sh"
fetch_debian_source giflib /usr/local/src/giflib 'giflib-*/gif_lib.h'
