#!/bin/sh
# Smoke measure of QueryRun: one study-level query answered by the standalone
# test node with N synthetic responses, timed by hyperfine next to findscu -q
# on the same query (same keys, same node). Prints the median wall time of
# each, in milliseconds.
#
# usage: bench/smoke-queryrun.sh [BUILD_DIR] [RUNS]
#   BUILD_DIR  a configured and built tree (default: build/default); needs the
#              targets lumo-testnode and lumo-bench-queryrun
#   RUNS       hyperfine runs per command (default: 10)
# Environment: COUNTS="1 1000 10000" to choose the response counts.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build/default}
runs=${2:-10}
counts=${COUNTS:-"1 1000 10000"}
node=$build/tests/fixtures/lumo-testnode
bench=$build/bench/queryrun/lumo-bench-queryrun

for tool in "$node" "$bench"; do
    [ -x "$tool" ] || { echo "missing $tool: build lumo-testnode and lumo-bench-queryrun first" >&2; exit 2; }
done
for tool in hyperfine findscu python3; do
    command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 2; }
done

work=$(mktemp -d /tmp/lumo-smoke-XXXXXX)
node_pid=
cleanup() {
    [ -n "$node_pid" ] && kill "$node_pid" 2>/dev/null && wait "$node_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

# The keys of lumo-bench-queryrun's study identifier.
keys="-k SpecificCharacterSet=ISO_IR\ 100 -k QueryRetrieveLevel=STUDY -k StudyDate -k StudyTime
      -k AccessionNumber -k Modality -k InstitutionName -k ReferringPhysicianName -k PatientName
      -k PatientID -k PatientBirthDate -k StudyInstanceUID -k NumberOfStudyRelatedSeries
      -k NumberOfStudyRelatedInstances"
keys=$(echo $keys)

printf '%-10s %14s %14s %8s\n' responses queryrun_ms findscu_q_ms ratio
for n in $counts; do
    "$node" --synthetic "$n" > "$work/port" &
    node_pid=$!
    i=0
    while [ ! -s "$work/port" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
    port=$(head -n 1 "$work/port")
    [ -n "$port" ] || { echo "the test node did not start" >&2; exit 1; }

    hyperfine --style none --warmup 1 --runs "$runs" --export-json "$work/$n.json" \
        -n queryrun "$bench $port study" \
        -n findscu "findscu -q -S -aec NORVANEX $keys 127.0.0.1 $port" > /dev/null

    python3 - "$work/$n.json" "$n" <<'PY'
import json, sys
results = {r["command"]: r["median"] * 1000 for r in json.load(open(sys.argv[1]))["results"]}
q, f = results["queryrun"], results["findscu"]
print(f"{sys.argv[2]:<10} {q:14.1f} {f:14.1f} {q / f:8.2f}")
PY
    kill "$node_pid"; wait "$node_pid" 2>/dev/null || true
    node_pid=
    rm -f "$work/port"
done
