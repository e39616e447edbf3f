#!/usr/bin/env bash
# The main job: builds the library, the example host `ecrctl` and the device
# simulator `ecr-sim`, starts a simulated Elzab register on a pseudo-terminal,
# programs a few goods into it, reads them back, reads the VAT rates and the
# status, and stops the simulator.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh demo
cmake --preset demo >/dev/null
cmake --build --preset demo --target orvanta ecrctl ecr-sim

bin=build/demo
work=$(mktemp -d)
sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

# Start the simulator; its first line names the port to use (ECR_COM1=/dev/pts/N).
. scripts/start-sim.sh
start_sim "$bin/tools/ecr-sim" "$work" --device elzab
echo "Simulated Elzab register on ${ECR_COM1}"

# Goods: number;code;name;VAT group;department;price;unit (names in UTF-8 here;
# ecrctl hands them to the library in CP1250, as a host does).
cat >"$work/goods.csv" <<'CSV'
number;code;name;VAT group;department;price;unit
1;5901234123457;Chleb żytni;1;1;4.99;1
2;5900000000017;Mleko 2%;2;1;3.49;1
3;;Jabłka luzem;3;2;5.20;2
CSV

ecrctl=("$bin/tools/ecrctl" --type 27 --port 1 --baud 9600)
echo; echo "== Programming goods"
"${ecrctl[@]}" program-plu --csv "$work/goods.csv"
echo; echo "== Reading the goods back"
"${ecrctl[@]}" read-plu --numbers 1,2,3
echo; echo "== VAT rates"
"${ecrctl[@]}" read-vat
echo; echo "== Status"
"${ecrctl[@]}" read-status
echo; echo "Done."
