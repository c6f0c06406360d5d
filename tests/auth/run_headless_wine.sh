#!/usr/bin/env bash
# run_headless_wine.sh LOADER PREFIX PROGRAM [ARGS...]: runs a Windows program that creates windows
# under Wine where there is no X display. Wine picks its graphics driver when a prefix's session
# starts, and without a display no window can be created; Wine's null driver gives windows that
# exist, size and take messages without being drawn. So the program gets a prefix of its own, set
# to that driver before its first session, and the session ends with the program.
set -euo pipefail
loader=$1
prefix=$2
shift 2
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINELOADER=$loader
# The 32-bit loader runs the MetaTrader 4 library in a 32-bit prefix of its own.
if [ "$(basename "$loader")" = wine ]; then export WINEARCH=win32; else export WINEARCH=win64; fi
server=$(dirname "$loader")/wineserver
[ -x "$server" ] || server=wineserver

mkdir -p "$prefix"
(
    flock 9
    if [ ! -f "$prefix/.null-graphics" ]; then
        "$loader" wineboot --init </dev/null >/dev/null 2>&1 9>&- || true
        "$loader" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f \
            </dev/null >/dev/null 2>&1 9>&-
        "$server" -k >/dev/null 2>&1 || true  # a session started before the setting ignores it
        "$server" -w >/dev/null 2>&1 || true
        touch "$prefix/.null-graphics"
    fi
) 9>"$prefix.lock"

status=0
"$loader" "$@" </dev/null || status=$?
"$server" -k >/dev/null 2>&1 || true
exit "$status"
