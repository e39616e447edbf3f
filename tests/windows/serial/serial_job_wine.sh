#!/usr/bin/env bash
# The serial end-to-end test of the Windows DLL under Wine: two simulated
# Elzab registers on pseudo-terminals (ecr-sim, a Linux program), made COM1
# and COM2 of the Wine prefix, and the Windows test host running jobs over
# them through the DLL. When 127.0.0.1:5001 is free, a simulated Novitus
# Next register there serves a job over TCP (Winsock) as well.
#
# Usage: serial_job_wine.sh <serial_job_host.exe> <orvanta.dll> <ecr-sim> [launcher...]
# The launcher runs a Windows program (default: $WINE, else
# /usr/lib/wine/wine64, in $WINEPREFIX or a prefix beside the host); given
# as "scripts/wine-run.sh <prefix> <loader>", that prefix is used. Without an
# ecr-sim (no Linux build beside the Windows one) the test is skipped (77).
set -euo pipefail
host=$(realpath "$1")
dll=$(realpath "$2")
sim=$3
shift 3
if [ ! -x "$sim" ]; then
    echo "no ecr-sim at $sim (build the dev preset first): skipped"
    exit 77
fi
sim=$(realpath "$sim")
if [ $# -gt 0 ]; then
    run=("$@")
    [ "$(basename "$1")" = wine-run.sh ] && [ $# -ge 2 ] && export WINEPREFIX=$2
else
    run=("${WINE:-/usr/lib/wine/wine64}")
fi
export WINEPREFIX=${WINEPREFIX:-$(dirname "$host")/wineprefix}
export WINEDEBUG=-all

work=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# Starts a simulated register (in this shell, so that its process is
# ended with the script) and sets $pty to its pseudo-terminal.
start_sim() {
    local name=$1
    shift
    "$sim" --device elzab "$@" >"$work/$name.out" 2>"$work/$name.err" &
    pids+=($!)
    for _ in $(seq 1 100); do
        grep -q '^ECR_COM[0-9]*=' "$work/$name.out" 2>/dev/null && break
        sleep 0.05
    done
    local line
    line=$(grep -m1 '^ECR_COM[0-9]*=' "$work/$name.out") || {
        echo "ecr-sim did not start" >&2
        cat "$work/$name.err" >&2
        exit 1
    }
    pty=${line#*=}
}

start_sim sim1 --port 1
pty1=$pty
start_sim sim2 --port 2 --delay 60000   # answers a minute late: the break test
pty2=$pty

# The Next register listens on a fixed port: without it the TCP job is left out.
next_port=
"$sim" --device next >"$work/next.out" 2>"$work/next.err" &
pids+=($!)
for _ in $(seq 1 100); do
    grep -q '^PORT=' "$work/next.out" 2>/dev/null && break
    kill -0 "${pids[-1]}" 2>/dev/null || break
    sleep 0.05
done
if line=$(grep -m1 '^PORT=' "$work/next.out"); then
    next_port=${line#PORT=}
else
    echo "127.0.0.1:5001 is not free: the job over TCP is left out" >&2
fi

# Wine's mount manager keeps the prefix's dosdevices/comN links in step with
# the registry's port table, and rewrites links made by hand: the ports go
# into the table, then the links are waited for.
printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n"COM1"="%s"\r\n"COM2"="%s"\r\n' \
    "$pty1" "$pty2" >"$work/ports.reg"
"${run[@]}" regedit /s "$work/ports.reg"
linked=0
for _ in $(seq 1 200); do
    if [ "$(readlink "$WINEPREFIX/dosdevices/com1")" = "$pty1" ] &&
        [ "$(readlink "$WINEPREFIX/dosdevices/com2")" = "$pty2" ]; then
        linked=1
        break
    fi
    sleep 0.05
done
if [ "$linked" != 1 ]; then
    # No mount manager running: the links are the mapping.
    ln -sfn "$pty1" "$WINEPREFIX/dosdevices/com1"
    ln -sfn "$pty2" "$WINEPREFIX/dosdevices/com2"
fi
echo "COM1 -> $pty1, COM2 -> $pty2"

# A hang fails the test instead of holding up the run.
cd "$(dirname "$dll")"
status=0
timeout 240 "${run[@]}" "$host" "$(basename "$dll")" $next_port || status=$?
[ "$status" = 124 ] && echo "the host did not finish in 240 s" >&2
exit "$status"
