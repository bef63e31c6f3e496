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
table gives the median wall time of each, what the relay adds (relay less
direct) and the ratio relay / direct; the same for the best run of each,
which leaves out the stalls both paths meet now and then (findscu leaves
Nagle's algorithm on, and some of its writes wait for a delayed
acknowledgement, some 40 ms); then the CPU time the relay and the node spent
per query (user + system, from /proc, summed over the runs; the node answers
the relay's worklist query, which asks more keys, with larger responses):
where the relay's time goes. Nothing in the environment tunes either program's
sockets; the relay's settings store and log go to a temporary folder and its
listing to /dev/null.

Targets: at most 2 ms added at 1 response, at most 5 % at 1,000.

usage: relay-bench.py BUILD_DIR [--runs R] [--counts 1,1000]
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from benchlib import stop, wait_for  # noqa: E402

# A worklist query with the usual matching and return keys.
KEYS = [
    "PatientID", "AccessionNumber", "PatientName", "StudyInstanceUID",
    "ScheduledProcedureStepSequence[0].Modality",
    "ScheduledProcedureStepSequence[0].ScheduledProcedureStepStartDate",
    "ScheduledProcedureStepSequence[0].ScheduledProcedureStepID",
]



TICK = os.sysconf("SC_CLK_TCK")


def cpu_seconds(process):
    """User + system time a running process has used so far."""
    with open(f"/proc/{process.pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


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
    parser.add_argument("--runs", type=int, default=31)
    parser.add_argument("--counts", default="1,1000")
    args = parser.parse_args()
    # The relay runs in a folder of its own: a relative path would not be found.
    args.build = os.path.abspath(args.build)
    node_program = os.path.join(args.build, "tests/fixtures/lumo-testnode")
    relay_program = os.path.join(args.build, "app/cli/lumo4410-cli")
    for program in (node_program, relay_program):
        if not os.access(program, os.X_OK):
            sys.exit(f"missing {program}: build lumo-testnode and lumo4410-cli first")

    print(f"{'':>9} {'median of ' + str(args.runs) + ' runs':^39} {'best run':^29}"
          f" {'CPU per query, ms':^29}")
    print(f"{'responses':>9} {'direct ms':>10} {'relay ms':>10} {'added':>8} {'ratio':>7}"
          f" {'direct':>7} {'relay':>7} {'added':>6} {'ratio':>6}"
          f" {'relay':>9} {'node rel.':>9} {'node dir.':>9}")
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
                relay_cpu = node_relayed_cpu = node_direct_cpu = 0.0
                for _ in range(args.runs):
                    node_before = cpu_seconds(node)
                    direct.append(timed(findscu(node_port)))
                    node_between = cpu_seconds(node)
                    relay_before = cpu_seconds(relay)
                    relayed.append(timed(findscu(relay_port)))
                    relay_cpu += cpu_seconds(relay) - relay_before
                    node_direct_cpu += node_between - node_before
                    node_relayed_cpu += cpu_seconds(node) - node_between
            finally:
                stop(relay)
                stop(node)
            d = statistics.median(direct) * 1000
            r = statistics.median(relayed) * 1000
            best_d = min(direct) * 1000
            best_r = min(relayed) * 1000
            per_query = 1000 / args.runs
            print(f"{count:>9} {d:>10.1f} {r:>10.1f} {r - d:>8.1f} {r / d:>7.3f}"
                  f" {best_d:>7.1f} {best_r:>7.1f} {best_r - best_d:>6.1f} {best_r / best_d:>6.3f}"
                  f" {relay_cpu * per_query:>9.1f} {node_relayed_cpu * per_query:>9.1f}"
                  f" {node_direct_cpu * per_query:>9.1f}")


if __name__ == "__main__":
    main()
