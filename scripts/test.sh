#!/usr/bin/env bash
# Builds everything and runs every test: the development build, the
# AddressSanitizer + UndefinedBehaviorSanitizer build, and the job engine's
# tests under ThreadSanitizer.
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
exit $status
