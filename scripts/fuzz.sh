#!/usr/bin/env bash
# Fuzzing campaigns with the libFuzzer targets in fuzz/.
#
#   scripts/fuzz.sh                  every target, 60 s each
#   scripts/fuzz.sh elzab 3600       one target for an hour
#   scripts/fuzz.sh all 600 [jobs]   every target, 600 s each, in parallel jobs
#
# Builds the `fuzz` preset (clang) first. New inputs that add coverage go to
# build/fuzz/corpus/<target>/ (the seed corpus in fuzz/corpus/<target>/ stays
# as it is); crashes to build/fuzz/crashes/<target>/. Turn a crash into a
# regular test of the family and fix it (see fuzz/README.md).
set -euo pipefail

cd "$(dirname "$0")/.."
root=$PWD
target=${1:-all}
seconds=${2:-60}
jobs=${3:-1}
targets=(elzab dsa elcom50 tango posnet sharp sharp227 adax dsp800 cr280 ncr elemis cas_lp medesa dibal medesa_usb next_tcp elzab_lib fiscal_control transfer_files cas_xml ecrctl_csv numbers posnet_combo mp500 dibal500)

export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-$(command -v ccache || true)}
export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-$(command -v ccache || true)}
cmake --preset fuzz >/dev/null
cmake --build build/fuzz -j"${FUZZ_BUILD_JOBS:-4}" --target fuzz_all >/dev/null

run_one() {
    local t=$1
    local work=$root/build/fuzz/corpus/$t crashes=$root/build/fuzz/crashes/$t
    mkdir -p "$work" "$crashes"
    echo "== $t: ${seconds} s"
    # The status of the fuzzer, not of grep (which finds nothing in a clean
    # run's last lines now and then).
    local rc=0
    "$root/build/fuzz/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 \
        -dict="$root/fuzz/dict/$t.dict" -artifact_prefix="$crashes/" -print_final_stats=1 \
        "$work" "$root/fuzz/corpus/$t" 2>&1 | grep -E "^(stat::|==|SUMMARY|broken|Done)" || rc=${PIPESTATUS[0]}
    return "$rc"
}

if [ "$target" = all ]; then
    status=0
    if [ "$jobs" -gt 1 ]; then
        pids=()
        for t in "${targets[@]}"; do
            run_one "$t" > "$root/build/fuzz/$t.log" 2>&1 &
            pids+=($!)
            while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do sleep 1; done
        done
        for i in "${!pids[@]}"; do
            wait "${pids[$i]}" || status=1
            cat "$root/build/fuzz/${targets[$i]}.log"
        done
    else
        for t in "${targets[@]}"; do run_one "$t" || status=1; done
    fi
    exit $status
fi
[ -x "build/fuzz/fuzz/fuzz_$target" ] || { echo "unknown target '$target' (one of: ${targets[*]})" >&2; exit 2; }
run_one "$target"
