#!/usr/bin/env bash
# The Windows DLL: builds it 32-bit (win32) and 64-bit (win64) with mingw-w64,
# checks that each exports exactly the 25 undecorated names of
# src/api/orvanta.def and needs nothing beside it but system DLLs, checks
# that the 32-bit stand-in Posnet library exports its entry points
# callee-cleans, and runs
# the 64-bit test programs under Wine (ctest --preset win64). The 32-bit
# test programs run too where this machine runs 32-bit Windows programs.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=${WINDOWS_BUILD_JOBS:-8}
status=0

# System DLLs a Windows installation has; anything else (libstdc++-6.dll,
# libgcc_s_*.dll, libwinpthread-1.dll, ...) would have to ship beside it.
system_dlls='^(kernel32|msvcrt|ws2_32|ole32|oleaut32|setupapi|hid|advapi32|user32|bcrypt|api-ms-win-.*)\.dll$'

check_dll() {   # <preset> <objdump>
    local dll=build/$1/src/orvanta.dll
    local expected actual imports bad
    expected=$(awk '/^EXPORTS/ {on = 1; next} on && NF {print $1}' src/api/orvanta.def | sort)
    # The name table of "objdump -p": "[Ordinal/Name Pointer] Table" then "[ n] Name".
    # (awk reads to the end: objdump must not die of a closed pipe.)
    actual=$("$2" -p "$dll" | awk '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next}
                                   on && /^[[:space:]]*\[/ {print $NF; next} {on = 0}' | sort)
    if [ "$(echo "$expected" | wc -l)" -ne 25 ] || [ "$actual" != "$expected" ]; then
        echo "FAIL: $dll exports differ from the 25 of src/api/orvanta.def:" >&2
        diff <(echo "$expected") <(echo "$actual") >&2 || true
        status=1
    else
        echo "ok: $dll exports exactly the 25 undecorated names"
    fi
    imports=$("$2" -p "$dll" | awk '/DLL Name:/ {print tolower($3)}')
    bad=$(echo "$imports" | grep -Ev "$system_dlls" || true)
    if [ -z "$imports" ]; then
        echo "FAIL: no import table read from $dll" >&2
        status=1
    elif [ -n "$bad" ]; then
        echo "FAIL: $dll needs DLLs beside it: $bad" >&2
        status=1
    else
        echo "ok: $dll imports only system DLLs ($(echo $imports))"
    fi
}

# The 32-bit stand-in Posnet library: each entry point is callee-cleans, so
# the linker exports it as "name@<bytes>" (4 bytes an argument word) beside
# the plain name the driver looks up. The counts come from the entry-point
# list the driver and the stand-in share.
check_stdcall_exports() {   # <dll> <objdump>
    local names expected missing
    names=$("$2" -p "$1" | awk '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next}
                                on && /^[[:space:]]*\[/ {print $NF; next} {on = 0}')
    expected=$(grep -Eo 'X\((POS[SG]?_[A-Za-z]+), [0-9]+,' src/drivers/posnet/combo_entry_points.h |
               awk -F'[(, ]+' '{print $2 "@" 4 * $3; print $2}' | sort -u)
    if [ "$(echo "$expected" | wc -l)" -ne 108 ]; then
        echo "FAIL: expected 54 entry points in src/drivers/posnet/combo_entry_points.h" >&2
        status=1
        return
    fi
    missing=$(comm -23 <(echo "$expected") <(echo "$names" | sort -u))
    if [ -n "$missing" ]; then
        echo "FAIL: $1 lacks the callee-cleans exports:" $missing >&2
        status=1
    else
        echo "ok: $1 exports the 54 entry points callee-cleans (name@bytes) and by their plain names"
    fi
}

echo "=== win64: configure and build"
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j "$jobs"
check_dll win64 x86_64-w64-mingw32-objdump

echo "=== win32: configure and build"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$jobs"
check_dll win32 i686-w64-mingw32-objdump
cmake --preset win32 -DORVANTA_BUILD_TESTS=ON >/dev/null
cmake --build --preset win32 -j "$jobs" --target fakeposnet
check_stdcall_exports "$(find build/win32/tests -name fakeposnet.dll | head -n 1)" i686-w64-mingw32-objdump
cmake --preset win32 >/dev/null

echo "=== win64: tests under Wine"
ctest --preset win64 --no-tests=error || status=1

# 32-bit programs: only where Wine can start them (many kernels refuse
# i386 programs outright). A Wine without a 32-bit loader may also give up
# on the program and still exit 0, so the probe counts as run only when its
# own words and exit code come back.
probe=build/win32/probe32.exe
printf '#include <stdio.h>\nint main(void) { puts("probe32 ran"); return 42; }\n' |
    i686-w64-mingw32-gcc-posix -x c -o "$probe" -
probe_rc=0
probe_out=$(scripts/wine-run.sh "$PWD/build/win32/wine" wine "$probe" 2>/dev/null) || probe_rc=$?
if [ "$probe_rc" -eq 42 ] && [[ "$probe_out" == *"probe32 ran"* ]]; then
    echo "=== win32: tests under Wine"
    cmake --preset win32 -DORVANTA_BUILD_TESTS=ON >/dev/null
    cmake --build --preset win32 -j "$jobs"
    ctest --preset win32 --no-tests=error || status=1
else
    echo "=== win32: this machine runs no 32-bit Windows programs; its tests are built only where it does"
fi

# The Wine servers the tests kept alive end now.
for preset in win64 win32; do
    WINEPREFIX=$PWD/build/$preset/wine wineserver -k >/dev/null 2>&1 || true
done
exit $status
