#!/bin/sh
# Runs a Windows program with a wine loader in a given wine prefix:
#
#   run-under-wine.sh LOADER PREFIX PROGRAM [ARGUMENT...]
#
# The prefix is made on first use, under a lock: many wine processes starting
# at once on a prefix that does not exist yet fail now and then.
set -eu
loader=$1
prefix=$2
shift 2
# No wine-mono or wine-gecko: the programs need neither, and installing them
# would ask on a display.
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$prefix/.initialised" ]; then
    mkdir -p "$(dirname "$prefix")"
    (
        flock 9
        if [ ! -f "$prefix/.initialised" ]; then
            wineboot -i >/dev/null 2>&1
            wineserver -w
            touch "$prefix/.initialised"
        fi
    ) 9>"$prefix.lock"
fi
exec "$loader" "$@"
