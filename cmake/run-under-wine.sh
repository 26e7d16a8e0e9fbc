#!/bin/sh
# Runs a Windows program with a wine loader in a given wine prefix, or starts
# or ends the prefix's wine session:
#
#   run-under-wine.sh LOADER PREFIX PROGRAM [ARGUMENT...]
#   run-under-wine.sh LOADER PREFIX --start-session
#   run-under-wine.sh LOADER PREFIX --end-session
#
# What wine starts under the lock (its server, its service processes) lives
# on and must not hold the lock: its descriptor is closed for them.
#
# Wine's own tools are the loader's: its wineserver beside it, and wineboot
# run by the loader itself. Those that PATH finds may belong to another wine
# (Debian's wineboot starts the 32-bit loader whenever it is installed).
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
#
# Test runs that share the prefix (two ctest runs in one build tree) share
# the session: each run that starts it is recorded, by the process id of the
# test runner, in PREFIX.sessions/, and the session is ended only when the
# last of them ends it. A run killed before it could (a CI time limit) is
# forgotten at the next start or end, and the server ends by itself a minute
# after its last program.
set -eu
loader=$1
prefix=$2
shift 2
wineserver=$(dirname "$loader")/wineserver
sessions=$prefix.sessions
# No wine-mono or wine-gecko: the programs need neither, and installing them
# would ask on a display.
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$prefix/.initialised" ]; then
    mkdir -p "$(dirname "$prefix")"
    (
        flock 9
        if [ ! -f "$prefix/.initialised" ]; then
            "$loader" wineboot -i >/dev/null 2>&1 9>&-
            "$wineserver" -w
            touch "$prefix/.initialised"
        fi
    ) 9>"$prefix.lock"
fi

# Forgets the recorded runs whose test runner has ended; true if none is left.
no_run_left() {
    for run in "$sessions"/*; do
        [ -e "$run" ] || continue
        kill -0 "${run##*/}" 2>/dev/null || rm -f "$run"
    done
    [ -z "$(ls -A "$sessions")" ]
}

case "$1" in
    --start-session)
        (
            flock 9
            mkdir -p "$sessions"
            if no_run_left; then
                # A session already running (listing the tests starts one) is
                # ended first, so that the new one has no output of anyone's.
                "$wineserver" -k 2>/dev/null || true
                "$wineserver" -w
                "$wineserver" -p60 </dev/null >/dev/null 2>&1 9>&-
                "$loader" wineboot </dev/null >/dev/null 2>&1 9>&-
            fi
            touch "$sessions/$PPID"
        ) 9>"$prefix.lock"
        ;;
    --end-session)
        (
            flock 9
            mkdir -p "$sessions"
            rm -f "$sessions/$PPID"
            if no_run_left; then
                "$wineserver" -k 2>/dev/null || true
            fi
        ) 9>"$prefix.lock"
        ;;
    *)
        exec "$loader" "$@"
        ;;
esac
