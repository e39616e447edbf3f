#!/usr/bin/env bash
# Builds everything and runs every test: the development build, the
# AddressSanitizer + UndefinedBehaviorSanitizer build, the job engine's
# tests under ThreadSanitizer, a short run of every fuzz target, and the
# Windows DLL (both builds, exports, the 64-bit tests under Wine).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

for preset in dev asan tsan; do
    echo "=== $preset: configure and build"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done

status=0
for preset in dev asan tsan; do
    echo "=== $preset: tests"
    ctest --preset "$preset" || status=1
done
echo "=== fuzz: every target over its seeds, then briefly"
FUZZ_BUILD_JOBS=8 scripts/fuzz-ci.sh || status=1
echo "=== windows: both DLLs, their exports, the 64-bit tests under Wine"
scripts/test-windows.sh || status=1
exit $status
