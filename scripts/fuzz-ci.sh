#!/usr/bin/env bash
# The fuzz check of CI: builds the `fuzz` preset, runs every target over its
# seed corpus (each seed must pass), then fuzzes each target for a short fixed
# time (FUZZ_CI_SECONDS, default 20) from a fixed random seed (FUZZ_CI_SEED,
# default 1), so that a run's outcome follows the code and not the draw; a
# campaign run by hand uses its own seeds. Exits non-zero on any crash, hang,
# broken promise or sanitizer report; the input is left in
# build/fuzz/ci-crashes/<target>/.
set -euo pipefail

cd "$(dirname "$0")/.."
root=$PWD
seconds=${FUZZ_CI_SECONDS:-20}
seed=${FUZZ_CI_SEED:-1}
targets=(elzab dsa elcom50 tango posnet sharp sharp227 adax dsp800 cr280 ncr elemis cas_lp medesa dibal medesa_usb next_tcp elzab_lib fiscal_control transfer_files cas_xml ecrctl_csv numbers posnet_combo mp500 dibal500)

export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-$(command -v ccache || true)}
export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-$(command -v ccache || true)}
cmake --preset fuzz >/dev/null
cmake --build build/fuzz -j"${FUZZ_BUILD_JOBS:-4}" --target fuzz_all >/dev/null

status=0
for t in "${targets[@]}"; do
    bin=$root/build/fuzz/fuzz/fuzz_$t
    crashes=$root/build/fuzz/ci-crashes/$t
    rm -rf "$crashes"
    mkdir -p "$crashes"
    # 1. Every seed as a regression input (no mutation).
    if ! "$bin" -runs=0 -timeout=30 -rss_limit_mb=4096 -artifact_prefix="$crashes/" "$root/fuzz/corpus/$t" \
            > "$crashes/seeds.log" 2>&1; then
        echo "FAIL $t: a seed input fails (see $crashes/seeds.log)"
        tail -30 "$crashes/seeds.log"
        status=1
        continue
    fi
    # 2. A short campaign from the seeds (new inputs into a scratch corpus).
    work=$(mktemp -d)
    if ! "$bin" -seed="$seed" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 -dict="$root/fuzz/dict/$t.dict" \
            -artifact_prefix="$crashes/" "$work" "$root/fuzz/corpus/$t" > "$crashes/fuzz.log" 2>&1; then
        echo "FAIL $t: the fuzzer found a failing input (see $crashes/)"
        grep -E "broken promise|ERROR|SUMMARY|Test unit written" "$crashes/fuzz.log" | head -10
        status=1
    else
        echo "ok   $t ($(grep -oE 'Done [0-9]+ runs' "$crashes/fuzz.log" | head -1))"
    fi
    rm -rf "$work"
done
exit $status
