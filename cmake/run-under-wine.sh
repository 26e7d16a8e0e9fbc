#!/bin/sh
# Runs a Windows program with a wine loader in a given wine prefix, or starts
# or ends the prefix's wine session:
#
#   run-under-wine.sh LOADER PREFIX PROGRAM [ARGUMENT...]
#   run-under-wine.sh LOADER PREFIX --start-session
#   run-under-wine.sh LOADER PREFIX --end-session
#
# The prefix is made on first use, under a lock: many wine processes starting
# at once on a prefix that does not exist yet fail now and then.
#
# A session is wine's server with its service processes (services.exe,
# rpcss.exe, ...). Wine starts one with the first program and ends it a few
# seconds after the last, and the service processes inherit that program's
# standard output and error. Tests therefore run in one session started
# before them, detached from every test's output, and ended after them, which
# also ends any wine process a failed test left behind.
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
case "$1" in
    --start-session)
        # A session already running (listing the tests starts one) is ended
        # first, so that the new one has no output of anyone's.
        wineserver -k 2>/dev/null || true
        wineserver -w
        wineserver -p </dev/null >/dev/null 2>&1
        exec "$loader" wineboot </dev/null >/dev/null 2>&1
        ;;
    --end-session)
        wineserver -k 2>/dev/null || true
        ;;
    *)
        exec "$loader" "$@"
        ;;
esac
