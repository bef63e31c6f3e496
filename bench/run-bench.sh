#!/usr/bin/env bash
# `make bench`: every benchmark of the repository against the default build.
# Each part runs only when it exists; RUNS and COUNTS tune the console part.
# `make bench-million` (argument "million"): a million responses listed by
# the command line next to findscu -q, and shown by the window.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build/default}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

if [ "${1:-}" = "million" ]; then
    echo "== console: a million responses, lumo4410-cli study next to findscu -q"
    python3 "$here/bench/console/console-bench.py" "$build" --runs "${RUNS:-3}" \
        --counts 1,1000000
    echo "== window: a million responses shown and scrolled to the end"
    "$build/bench/gui/gui_bench" --benchmark_filter='ShowAndScrollToEnd|/1000000'
    exit 0
fi

echo "== console: lumo4410-cli study next to findscu"
python3 "$here/bench/console/console-bench.py" "$build"

if [ -x "$here/bench/smoke-queryrun.sh" ] || [ -f "$here/bench/smoke-queryrun.sh" ]; then
    if [ -x "$build/bench/queryrun/lumo-bench-queryrun" ]; then
        echo "== queryrun: QueryRun next to findscu -q"
        sh "$here/bench/smoke-queryrun.sh" "$build"
    fi
fi

if [ -x "$build/bench/queryrun/queryrun_bench" ]; then
    echo "== queryrun_bench: QueryRun reading responses plainly next to DCMTK alone"
    "$build/bench/queryrun/queryrun_bench"
fi

if [ -f "$here/bench/batch/batch-bench.py" ]; then
    echo "== batch: lumo4410-cli batch next to a findscu loop"
    python3 "$here/bench/batch/batch-bench.py" "$build"
fi

if [ -f "$here/bench/relay/relay-bench.py" ]; then
    echo "== relay: findscu through lumo4410-cli listen next to findscu straight to the node"
    python3 "$here/bench/relay/relay-bench.py" "$build"
    echo "== relay: callers at once through lumo4410-cli listen next to straight to wlmscpfs"
    python3 "$here/bench/relay/relay-callers-bench.py" "$build"
fi

if [ -f "$here/bench/profile/profile-bench.py" ]; then
    echo "== profile: lumo4410-cli profile against Orthanc holding 10,000 studies and the test node"
    python3 "$here/bench/profile/profile-bench.py" "$build"
fi

if [ -f "$here/bench/retrieve/retrieve-bench.py" ]; then
    echo "== retrieve: lumo4410-cli move and get next to movescu and getscu"
    python3 "$here/bench/retrieve/retrieve-bench.py" "$build"
fi

if [ -f "$here/bench/web/qido-bench.py" ] && [ -x /usr/sbin/Orthanc ]; then
    echo "== DICOMweb: lumo4410-cli study --dicomweb next to curl, 10,000 studies in Orthanc"
    python3 "$here/bench/web/qido-bench.py" "$build"
fi

for program in "$build"/bench/logging/* "$build"/bench/gui/* "$build"/bench/web/*; do
    if [ -f "$program" ] && [ -x "$program" ]; then
        echo "== $(basename "$program")"
        "$program"
    fi
done
