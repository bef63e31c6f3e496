#!/usr/bin/env python3
"""Profile benchmark: `lumo4410-cli profile` against nodes of growing size.

The standalone test node answers every query with COUNT synthetic
responses, whatever its keys: the worst a profile can meet, since each of
its broad queries runs to its C-CANCEL (500 responses) and each probe to
its own (50). The table gives, for each COUNT, the median wall time and CPU
time (user + system) of RUNS profiles, and the exit code of the last.

usage: profile-bench.py BUILD_DIR [--counts 10,10000] [--runs 3]
(or PROFILE_COUNTS and PROFILE_RUNS in the environment)
"""

import argparse
import os
import statistics
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from benchlib import Node, run_once  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--counts", default=os.environ.get("PROFILE_COUNTS", "10,10000"))
    parser.add_argument("--runs", type=int, default=int(os.environ.get("PROFILE_RUNS", "3")))
    args = parser.parse_args()

    cli = os.path.join(args.build, "app/cli/lumo4410-cli")
    node_program = os.path.join(args.build, "tests/fixtures/lumo-testnode")
    for program in (cli, node_program):
        if not os.access(program, os.X_OK):
            sys.exit(f"missing {program}: build lumo4410-cli and lumo-testnode first")

    print(f"profile benchmark: lumo4410-cli profile against lumo-testnode --synthetic COUNT, "
          f"median of {args.runs} runs")
    header = f"{'count':>8} | {'wall':>8} | {'cpu':>8} | {'exit':>4}"
    print(header)
    print("-" * len(header))
    with tempfile.TemporaryDirectory(prefix="lumo-profile-bench-") as work:
        for count in (int(c) for c in args.counts.split(",")):
            node = Node(node_program, count, work)
            try:
                argv = [cli, "profile", "--ip=127.0.0.1", f"--port={node.port}"]
                runs = [run_once(argv, work) for _ in range(args.runs)]
            finally:
                node.stop()
            wall = statistics.median(r[0] for r in runs)
            cpu = statistics.median(r[1] for r in runs)
            print(f"{count:>8} | {wall:7.2f}s | {cpu:7.2f}s | {runs[-1][3]:>4}")


if __name__ == "__main__":
    main()
