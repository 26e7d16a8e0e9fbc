#!/usr/bin/env bash
# Fetches and unpacks Debian's source package of the netCDF C library into
# /usr/local/src/netcdf, unless it is there already.
#
# Debian has no netCDF for MinGW-w64, and its packages for the Linux cross
# targets are as hard to install beside the build machine's as zlib's: the
# cross builds compile the netCDF C library themselves
# (cmake/netcdf-from-source.cmake), from Debian's source package with
# Debian's patches applied. Source packages come from deb-src sources, which
# Debian's images do not list: where the machine has none, one is added in a
# file of its own, of the same archives, suites, components and keyring as
# the machine's Debian sources (of deb822 .sources files or one-line
# sources.list entries). Run as root, as .ci/run is.
#
# Sourced rather than run, it only defines fetch_debian_source, which
# fetches any source package so (tools/fetch_giflib_source.sh).
set -euo pipefail

# `fetch_debian_source PACKAGE FOLDER GLOB`: unpacks Debian's source package
# PACKAGE, with Debian's patches applied, into FOLDER, unless a file there
# matches GLOB (a file of the unpacked sources, relative to FOLDER).
fetch_debian_source() {
    local package=$1 folder=$2 glob=$3
    compgen -G "$folder/$glob" >/dev/null && return 0
    if ! grep -qsE '^(Types:.*\bdeb-src\b|deb-src[[:space:]])' /etc/apt/sources.list \
        /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; then
        {
            # The paragraphs of Debian's archives, of type deb, as deb-src.
            for sources in /etc/apt/sources.list.d/*.sources; do
                [ -f "$sources" ] || continue
                awk 'function flush() {
                         if (n && types ~ /(^|[ \t])deb([ \t]|$)/ && uris ~ /debian/) {
                             for (i = 1; i <= n; i++)
                                 print (lines[i] ~ /^Types:/ ? "Types: deb-src" : lines[i])
                             print ""
                         }
                         n = 0; types = ""; uris = ""
                     }
                     /^[ \t]*$/ { flush(); next }
                     { lines[++n] = $0 }
                     /^Types:/ { types = substr($0, 7) }
                     /^URIs:/ { uris = $0 }
                     END { flush() }' "$sources"
            done
            # deb [options] URI SUITE COMPONENT... of Debian's archives.
            for list in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
                [ -f "$list" ] || continue
                awk '$1 == "deb" {
                         keyring = ""
                         if ($2 ~ /^\[/) {
                             while (NF > 1 && $2 !~ /\]$/) {
                                 if ($2 ~ /signed-by=/) keyring = $2
                                 $2 = ""; $0 = $0
                             }
                             if ($2 ~ /signed-by=/) keyring = $2
                             $2 = ""; $0 = $0
                             sub(/.*signed-by=/, "", keyring); sub(/\]$/, "", keyring)
                         }
                         if ($2 !~ /debian/) next
                         components = $4
                         for (i = 5; i <= NF; i++) components = components " " $i
                         print "Types: deb-src"
                         print "URIs: " $2
                         print "Suites: " $3
                         print "Components: " components
                         if (keyring != "") print "Signed-By: " keyring
                         print ""
                     }' "$list"
            done
        } >/etc/apt/sources.list.d/debian-deb-src.sources.new
        if [ ! -s /etc/apt/sources.list.d/debian-deb-src.sources.new ]; then
            rm /etc/apt/sources.list.d/debian-deb-src.sources.new
            echo "No Debian archive among the machine's APT sources: no deb-src source to add." >&2
            exit 1
        fi
        mv /etc/apt/sources.list.d/debian-deb-src.sources.new \
            /etc/apt/sources.list.d/debian-deb-src.sources
    fi
    # A mirror being synced fails some index (of another architecture, say)
    # for a while: the source lists that did come serve.
    apt-get update ||
        echo "fetch_debian_source: apt-get update failed; trying with the package lists there are" >&2
    # Fetched and unpacked beside its final place, readable by APT's own user
    # who downloads, and moved there whole: a fetch that fails is made again
    # at the next run.
    mkdir -p "$(dirname "$folder")"
    local unpacked
    unpacked=$(mktemp -d "$folder.XXXXXX")
    chmod 755 "$unpacked"
    (cd "$unpacked" && apt-get source "$package")
    rm -rf "$folder"
    mv "$unpacked" "$folder"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    fetch_debian_source netcdf /usr/local/src/netcdf 'netcdf-*/include/netcdf.h'
fi
