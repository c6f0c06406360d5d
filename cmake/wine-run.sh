#!/usr/bin/env bash
# Runs a Windows program under Wine: wine-run.sh LOADER PREFIX PROGRAM [ARGS...]
# LOADER is wine64 for 64-bit programs and wine for 32-bit ones.
# Keeps one prefix per build tree and one persistent wineserver per prefix, since a cold Wine
# start costs seconds and every test binary is its own start.
set -euo pipefail
loader=$1
prefix=$2
shift 2
mkdir -p "$prefix"
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installers on prefix creation: nothing here needs them, and there is no network.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

export WINELOADER=$loader
# The 32-bit loader runs the MetaTrader 4 library in a 32-bit prefix of its own.
if [ "$(basename "$loader")" = wine ]; then export WINEARCH=win32; else export WINEARCH=win64; fi
server=$(dirname "$loader")/wineserver
[ -x "$server" ] || server=wineserver

# Under a lock, so that parallel tests do not race: create the prefix once, keep one persistent
# wineserver, and let a throw-away program start Wine's background services. Whatever outlives
# this script (the server, the services) must not hold the lock or the caller's output pipe, or
# the caller (ctest) would wait forever.
(
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
        "$loader" wineboot --init </dev/null >/dev/null 2>&1 9>&- || true
    fi
    "$server" -p </dev/null >/dev/null 2>&1 9>&- || true
    "$loader" cmd /c exit </dev/null >/dev/null 2>&1 9>&- || true
) 9>"$prefix.lock"

exec "$loader" "$@"
