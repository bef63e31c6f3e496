#!/usr/bin/env python3
"""Relay benchmark: a worklist query through `lumo4410-cli listen` next to
the same query sent straight to the test node.

For each response count N, the standalone test node answers every query
with N synthetic worklist responses; lumo4410-cli listens on an ephemeral
loopback port and relays to it. dcmtk's findscu then sends the same worklist
query, RUNS times each, interleaved:

  relay    findscu -> lumo4410-cli listen -> test node -> back to findscu
  direct   findscu -> test node

findscu runs with -q (nothing printed) so the transfer is what is timed. The
table gives the median wall time of each and the ratio relay / direct. The
relay's own listing goes to /dev/null and its settings store and log to a
temporary folder.

usage: relay-bench.py BUILD_DIR [--runs R] [--counts 1,1000]
"""

import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

# A worklist query with the usual matching and return keys.
KEYS = [
    "PatientID", "AccessionNumber", "PatientName", "StudyInstanceUID",
    "ScheduledProcedureStepSequence[0].Modality",
    "ScheduledProcedureStepSequence[0].ScheduledProcedureStepStartDate",
    "ScheduledProcedureStepSequence[0].ScheduledProcedureStepID",
]


def wait_for(path, pattern, process, what):
    """Waits up to 30 s for `pattern` in the file; returns its first group."""
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        with open(path, encoding="utf-8", errors="replace") as f:
            match = re.search(pattern, f.read(), re.MULTILINE)
        if match:
            return match.group(1)
        if process.poll() is not None:
            break
        time.sleep(0.05)
    process.kill()
    sys.exit(f"{what} did not start")


def stop(process):
    process.terminate()
    try:
        process.wait(timeout=15)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def timed(argv):
    """Wall time of one run, its output discarded; exits on failure."""
    start = time.perf_counter()
    code = subprocess.call(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           stdin=subprocess.DEVNULL, timeout=300)
    wall = time.perf_counter() - start
    if code != 0:
        sys.exit(f"failed ({code}): {' '.join(argv)}")
    return wall


def findscu(port):
    argv = ["findscu", "-q", "-W", "-aet", "BENCH", "-aec", "NORVANEX", "-to", "10", "-ta", "30",
            "-td", "120", "127.0.0.1", str(port)]
    for key in KEYS:
        argv += ["-k", key]
    return argv


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--runs", type=int, default=15)
    parser.add_argument("--counts", default="1,1000")
    args = parser.parse_args()
    node_program = os.path.join(args.build, "tests/fixtures/lumo-testnode")
    relay_program = os.path.join(args.build, "app/cli/lumo4410-cli")
    for program in (node_program, relay_program):
        if not os.access(program, os.X_OK):
            sys.exit(f"missing {program}: build lumo-testnode and lumo4410-cli first")

    print(f"{'responses':>9} {'direct ms':>10} {'relay ms':>10} {'ratio':>7}   ({args.runs} runs each)")
    with tempfile.TemporaryDirectory(prefix="lumo-relay-bench-") as work:
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"))
        for count in [int(c) for c in args.counts.split(",")]:
            node_out = os.path.join(work, f"node-{count}.txt")
            relay_err = os.path.join(work, f"relay-{count}.txt")
            with open(node_out, "w") as out:
                node = subprocess.Popen([node_program, "--port", "0", "--synthetic", str(count)],
                                        stdout=out, stderr=subprocess.DEVNULL)
            node_port = wait_for(node_out, r"^(\d+)\s*$", node, "the test node")
            with open(relay_err, "w") as err:
                relay = subprocess.Popen([relay_program, "listen", "0", "--ip=127.0.0.1",
                                          f"--port={node_port}"], stdout=subprocess.DEVNULL,
                                         stderr=err, cwd=work, env=env)
            relay_port = wait_for(relay_err, r"port (\d+)", relay, "the relay")
            try:
                # One of each first, so that neither pays for a cold start.
                timed(findscu(node_port))
                timed(findscu(relay_port))
                direct, relayed = [], []
                for _ in range(args.runs):
                    direct.append(timed(findscu(node_port)))
                    relayed.append(timed(findscu(relay_port)))
            finally:
                stop(relay)
                stop(node)
            d = statistics.median(direct) * 1000
            r = statistics.median(relayed) * 1000
            print(f"{count:>9} {d:>10.1f} {r:>10.1f} {r / d:>7.2f}")


if __name__ == "__main__":
    main()
