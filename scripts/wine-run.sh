#!/usr/bin/env bash
# Runs a Windows program of the cross builds under Wine; ctest starts every
# test program through it (the win32/win64 presets name it as the emulator).
#   wine-run.sh <prefix dir> <wine loader> <program.exe> [args...]
# The prefix is made on first use (under a lock, so parallel tests wait for
# it) and a wineserver is kept for a while, so each later start is quick.
# The program's exit status is passed on.
set -euo pipefail

prefix=$1 loader=$2
shift 2
export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all}
server=$(dirname "$(command -v "$loader" || echo /usr/lib/wine/wine64)")/wineserver
[ -x "$server" ] || server=wineserver

mkdir -p "$(dirname "$prefix")"
(
    flock 9
    if [ ! -f "$prefix/system.reg" ]; then
        # Without Mono and Gecko, which would be offered for download.
        WINEDLLOVERRIDES=mscoree,mshtml= "$loader" wineboot --init >/dev/null 2>&1 9>&- || true
        # No display here: the null driver still lets programs make windows
        # (and send them messages). Read when the next server starts.
        "$loader" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 9>&- || true
        "$server" -w 9>&- || true
    fi
    # The server is kept for 60 s after the last program ends, and Wine's
    # own services are started here, apart from the tests: started by a test
    # program they would hold its output open as long as they run. Neither
    # may inherit the lock, or it would stay held as long as they run.
    if "$server" -p60 >/dev/null 2>&1 9>&-; then
        "$loader" wineboot >/dev/null 2>&1 9>&- </dev/null || true
    fi
) 9>"$prefix.lock"

exec "$loader" "$@"
