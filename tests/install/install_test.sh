#!/usr/bin/env bash
# Installs the build tree into a temporary prefix, then builds a small C host
# against the installed copy twice, through find_package and through
# pkg-config, and runs both.
# Usage: install_test.sh <build dir> <source dir of the host>
set -euo pipefail
build=$1
host_src=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; exit 1; }
libdir=$(cd "$prefix" && ls -d lib*/ | head -n 1)
libdir=$prefix/${libdir%/}
for f in include/orvanta/ecr.h bin/ecrctl bin/ecr-sim; do
    [ -e "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
[ -e "$libdir/pkgconfig/orvanta.pc" ] || { echo "not installed: orvanta.pc"; exit 1; }
[ -e "$libdir/cmake/orvanta/orvantaConfig.cmake" ] || { echo "not installed: orvantaConfig.cmake"; exit 1; }
soname=$(objdump -p "$libdir/liborvanta.so" | awk '/SONAME/ {print $2}')
[ "$soname" = "liborvanta.so.1" ] || { echo "unexpected soname: $soname"; exit 1; }
[ -e "$libdir/$soname" ] || { echo "the soname link is missing"; exit 1; }

echo "== the runtime component alone: library, header, package files, no tools"
rprefix=$work/runtime
cmake --install "$build" --prefix "$rprefix" --component runtime >"$work/runtime.log" || { cat "$work/runtime.log"; exit 1; }
rlibdir=$rprefix/${libdir#"$prefix"/}
for f in "$rprefix/include/orvanta/ecr.h" "$rlibdir/$soname" "$rlibdir/liborvanta.so" "$rlibdir/pkgconfig/orvanta.pc" \
         "$rlibdir/cmake/orvanta/orvantaConfig.cmake" "$rlibdir/cmake/orvanta/orvantaTargets.cmake"; do
    [ -e "$f" ] || { echo "runtime component lacks: $f"; exit 1; }
done
for f in bin/ecrctl bin/ecr-sim; do
    [ ! -e "$rprefix/$f" ] || { echo "runtime component holds a tool: $f"; exit 1; }
done

echo "== find_package"
cmake -S "$host_src" -B "$work/cmake-host" -DCMAKE_PREFIX_PATH="$prefix" >"$work/host.log" || { cat "$work/host.log"; exit 1; }
cmake --build "$work/cmake-host" >>"$work/host.log" || { cat "$work/host.log"; exit 1; }
LD_LIBRARY_PATH="$libdir" "$work/cmake-host/host"

echo "== pkg-config"
export PKG_CONFIG_PATH="$libdir/pkgconfig"
# shellcheck disable=SC2046
cc -std=c11 -o "$work/pc-host" "$host_src/host.c" $(pkg-config --cflags --libs orvanta)
LD_LIBRARY_PATH="$libdir" "$work/pc-host"

echo "== the README's example host"
readme=$host_src/../../../README.md
awk '/^```c$/{f=1;next} /^```$/{if(f){exit}} f' "$readme" >"$work/example.c"
[ -s "$work/example.c" ] || { echo "no C example in the README"; exit 1; }
# shellcheck disable=SC2046
cc -std=c11 -Wall -Wextra -Werror -o "$work/example" "$work/example.c" $(pkg-config --cflags --libs orvanta)
# Run as the README runs it: against the simulator it starts first.
. "$(dirname "$0")/../../scripts/start-sim.sh"
start_sim "$prefix/bin/ecr-sim" "$work" --device elzab
status=0
LD_LIBRARY_PATH="$libdir" "$work/example" || status=$?
kill "$sim_pid" 2>/dev/null || true
wait "$sim_pid" 2>/dev/null || true
[ "$status" -eq 0 ] || { echo "the README's example failed against the simulator ($status)"; cat "$work/sim.err"; exit 1; }

echo "== installed ecrctl finds its library"
"$prefix/bin/ecrctl" --help >/dev/null
