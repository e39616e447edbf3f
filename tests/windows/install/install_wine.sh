#!/usr/bin/env bash
# Installs the Windows build into a temporary prefix, checks that the DLL,
# its import library and its .def file lie together, builds a C host against
# the installed header and import library, checks that the host imports the
# functions (the header gives a host dllimport declarations), and runs the
# host under Wine.
# Usage: install_wine.sh <build dir> <C compiler> <nm> <launcher...>
set -euo pipefail
build=$1 cc=$2 nm=$3
shift 3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "$build/install-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; exit 1; }
for f in bin/orvanta.dll bin/liborvanta.dll.a bin/orvanta.def include/orvanta/ecr.h; do
    [ -e "$prefix/$f" ] || { echo "FAIL: not installed: $f"; exit 1; }
done
echo "ok: orvanta.dll, liborvanta.dll.a and orvanta.def installed together"

"$cc" -std=c11 -Wall -Wextra -Werror -I"$prefix/include" -c "$here/host.c" -o "$work/host.o"
# A dllimport declaration calls through the import table (__imp_<name>); a
# dllexport one in a host would call a stub the linker makes instead.
for f in EcrCreate EcrReadVAT EcrIsDone EcrError EcrErrMsg; do
    "$nm" "$work/host.o" | grep -Eq "U _?_imp_+$f\$" || { echo "FAIL: the host does not import $f"; exit 1; }
done
echo "ok: the installed header gives the host dllimport declarations"
"$cc" -o "$work/host.exe" "$work/host.o" -L"$prefix/bin" -lorvanta
cp "$prefix/bin/orvanta.dll" "$work/"
"$@" "$work/host.exe"
