#!/usr/bin/env python3
"""The window's memory and time for a long study query, beside the command line's.

For each response count N, the replay node (bench/replay) answers every study
query with N synthetic responses; the window (gui_query_bench: the program's
own window on the offscreen platform, its "C-Find Study/Study" pressed once,
the blocks shown as they arrive) and `lumo4410-cli study` each run the same
query RUNS times, interleaved. The table gives the median wall time and the
peak resident memory of each, and the window's peak over the command line's.

usage: gui-query-bench.py BUILD_DIR [--runs R] [--counts 100000,1000000]
"""

import argparse
import os
import platform
import statistics
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from benchlib import Node, run_once  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--counts", default="100000,1000000")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    window = os.path.join(build, "bench/gui/gui_query_bench")
    cli = os.path.join(build, "app/cli/lumo4410-cli")
    replay = os.path.join(build, "bench/replay/lumo-replay-node")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    print(f"machine: {platform.processor() or platform.machine()}, {os.cpu_count()} cores, "
          f"load {os.getloadavg()[0]:.1f}")
    print("| responses | window wall | window peak | cli wall | cli peak | peak ratio |")
    print("|---:|---:|---:|---:|---:|---:|")
    with tempfile.TemporaryDirectory() as work:
        os.environ["XDG_CONFIG_HOME"] = work
        for count in [int(c) for c in args.counts.split(",")]:
            node = Node(replay, count, work, replay=True)
            try:
                w_wall, w_peak, c_wall, c_peak = [], [], [], []
                for _ in range(args.runs):
                    start = os.times().elapsed
                    out = subprocess.run([window, node.port, "1"], env=env, cwd=work,
                                         capture_output=True, text=True, check=True).stdout
                    w_wall.append(os.times().elapsed - start)
                    w_peak.append(int(out.split("\t")[2].split()[0]))
                    wall, _, peak, code = run_once(
                        [cli, "study", "--ip=127.0.0.1", f"--port={node.port}", "--date=",
                         "--accession=", "--name=", "--dossier="], work)
                    if code != 0:
                        sys.exit(f"lumo4410-cli exited with {code}")
                    c_wall.append(wall)
                    c_peak.append(peak)
            finally:
                node.stop()
            wp, cp = statistics.median(w_peak), statistics.median(c_peak)
            print(f"| {count:,} | {statistics.median(w_wall) * 1000:,.0f} ms | {wp / 1024:,.0f} MB "
                  f"| {statistics.median(c_wall) * 1000:,.0f} ms | {cp / 1024:,.0f} MB "
                  f"| {wp / cp:.2f} |")


if __name__ == "__main__":
    main()
