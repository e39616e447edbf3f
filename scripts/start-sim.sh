# Sourced by the scripts that run a host against ecr-sim:
#   start_sim <ecr-sim> <work dir> [ecr-sim options...]
# starts the simulator in the background (sim_pid), waits for its first line
# and exports the port it names (ECR_COM1=/dev/pts/N). Fails with the
# simulator's messages when it did not start.
start_sim() {
    local program=$1 work=$2 line
    shift 2
    "$program" "$@" >"$work/sim.out" 2>"$work/sim.err" &
    sim_pid=$!
    for _ in $(seq 1 100); do
        grep -q '^ECR_COM1=' "$work/sim.out" 2>/dev/null && break
        sleep 0.05
    done
    line=$(grep -m1 '^ECR_COM1=' "$work/sim.out") || { echo "simulator did not start" >&2; cat "$work/sim.err" >&2; return 1; }
    export "${line?}"
}
