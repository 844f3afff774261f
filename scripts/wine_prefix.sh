#!/usr/bin/env bash
# wine_prefix.sh - sourced: a fresh, headless Wine prefix for one script.
#
#   start_wine_prefix NAME   makes "$wine_work" (a scratch folder) holding
#                            the prefix "$WINEPREFIX", starts a persistent
#                            wineserver and runs wineboot -i; the log is
#                            "$wine_work/wine.log".  On exit the server is
#                            ended and the folder removed.
#
# The server is ended by its pid with SIGINT, which makes it end every Wine
# process of the prefix (services.exe, winedevice.exe, ...) before it exits;
# SIGTERM would leave them running.  Wine's helpers inherit their output, so
# it goes to a file, never a pipe.

wine_server_pid=""

finish_wine_prefix() {
    if [ -n "$wine_server_pid" ]; then
        kill -INT "$wine_server_pid" 2>/dev/null || true
        wait "$wine_server_pid" 2>/dev/null || true
    fi
    rm -rf "$wine_work"
}

start_wine_prefix() {
    wine_work=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
    trap finish_wine_prefix EXIT
    export WINEPREFIX="$wine_work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    unset DISPLAY WAYLAND_DISPLAY
    mkdir "$WINEPREFIX"
    wineserver -f -p >"$wine_work/wine.log" 2>&1 &
    wine_server_pid=$!
    wineboot -i >>"$wine_work/wine.log" 2>&1 || {
        cat "$wine_work/wine.log" >&2
        echo "$1: wineboot -i failed" >&2
        exit 1
    }
}
