#!/usr/bin/env python3
"""Retrieval benchmark: `lumo4410-cli move` and `get` next to dcmtk's
`movescu` and `getscu`, the same study from the same node.

dcmqrscp holds one study of COUNT small instances (2 x 2 pixels, made with
dump2dcm, sent with storescu) and knows two move destinations on loopback:
the console's receiver and movescu's own port. Each run retrieves the whole
study, RUNS times each, interleaved, in two ways:

  counted   the instances received and dropped: the console without
            --store-dir (each instance still read and checked), dcmtk's
            tools with --ignore
  kept      each instance written to a fresh folder: the console with
            --store-dir, dcmtk's tools with -od

The console's C-GET asks a study C-FIND first for the SOP classes to
propose; dcmqrscp gives no SOP Classes in Study, so it proposes its broad
list, as getscu does without asking. The table gives
the median and the best wall time of each, instances per second at the
median, the client's CPU time (user + system, from wait4) and its peak
resident set at the median, and the console's wall time over the dcmtk
tool's of the same mode.

A second study of COUNT / 10 instances shows that the console's memory does
not grow with the count when nothing is kept: its peak counting that study
is printed beside its peak counting the large one.

dcmtk's tools spend some 50 to 110 ms per instance against dcmqrscp (each
side waits for the other's delayed acknowledgements), so they run
DCMTK_RUNS times (default 1: about 11 minutes at 1,000 instances), the
console RUNS times. --node-nodelay starts dcmqrscp with TCP_NODELAY=1: then
nobody waits for a delayed acknowledgement and the clients' own work shows.

usage: retrieve-bench.py BUILD_DIR [--runs R] [--dcmtk-runs D] [--count N]
                         [--node-nodelay] [--nodelay-tools-only]
                         [--services move,get] [--modes counted,kept]
"""

import argparse
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from benchlib import free_port, run_once  # noqa: E402

STUDY = "1.2.826.0.1.3680043.9.7433.42"
SMALL_STUDY = "1.2.826.0.1.3680043.9.7433.43"



def wait_for_port(port, process):
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        if process.poll() is not None:
            break
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return
        except OSError:
            time.sleep(0.1)
    sys.exit("dcmqrscp did not start")


def make_instances(folder, count, study):
    os.makedirs(folder, exist_ok=True)
    for i in range(1, count + 1):
        dump = os.path.join(folder, "im.dump")
        with open(dump, "w") as f:
            f.write(f"""(0008,0016) UI [1.2.840.10008.5.1.4.1.1.7]
(0008,0018) UI [{study}.1.{i}]
(0008,0020) DA [20260101]
(0008,0060) CS [OT]
(0010,0010) PN [BENCH^RETRIEVE]
(0010,0020) LO [BENCH1]
(0020,000d) UI [{study}]
(0020,000e) UI [{study}.1]
(0020,0013) IS [{i}]
(0028,0002) US 1
(0028,0004) CS [MONOCHROME2]
(0028,0010) US 2
(0028,0011) US 2
(0028,0100) US 16
(0028,0101) US 12
(0028,0102) US 11
(0028,0103) US 0
(7fe0,0010) OW 0000\\0400\\0800\\0c00
""")
        subprocess.run(["dump2dcm", "-q", dump, os.path.join(folder, f"{study}-{i:05}.dcm")],
                       check=True)
        os.remove(dump)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--dcmtk-runs", type=int, default=1)
    parser.add_argument("--node-nodelay", action="store_true",
                        help="dcmqrscp with TCP_NODELAY=1: no side waits for a delayed ack")
    parser.add_argument("--count", type=int, default=1000)
    parser.add_argument("--services", default="move,get", help="of move,get")
    parser.add_argument("--modes", default="counted,kept", help="of counted,kept")
    parser.add_argument("--nodelay-tools-only", action="store_true",
                        help="dcmtk's tools with TCP_NODELAY=1 only (as installed they take "
                             "minutes a run)")
    args = parser.parse_args()
    services = args.services.split(",")
    modes = args.modes.split(",")
    cli = os.path.join(os.path.abspath(args.build), "app", "cli", "lumo4410-cli")
    with tempfile.TemporaryDirectory(prefix="lumo-retrieve-bench.") as work:
        lumo_port, movescu_port, node_port = free_port(), free_port(), free_port()
        os.makedirs(os.path.join(work, "COMMON"))
        config = os.path.join(work, "dcmqrscp.cfg")
        with open(config, "w") as f:
            f.write("MaxPDUSize = 16384\nMaxAssociations = 16\nHostTable BEGIN\n"
                    f"lumo = (LUMO4410, 127.0.0.1, {lumo_port})\n"
                    f"movescu = (MOVESCU, 127.0.0.1, {movescu_port})\n"
                    "HostTable END\nVendorTable BEGIN\nVendorTable END\nAETable BEGIN\n"
                    f"COMMON {work}/COMMON RW (10, 1024mb) ANY\nAETable END\n")
        small = max(1, args.count // 10)
        make_instances(os.path.join(work, "in"), args.count, STUDY)
        make_instances(os.path.join(work, "in"), small, SMALL_STUDY)
        node_env = dict(os.environ, TCP_NODELAY="1") if args.node_nodelay else None
        node = subprocess.Popen(["dcmqrscp", "-c", config, str(node_port)],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                env=node_env)
        try:
            wait_for_port(node_port, node)
            files = sorted(os.path.join(work, "in", n) for n in os.listdir(os.path.join(work, "in")))
            # Loading is not measured: no delayed acknowledgement on this side.
            subprocess.run(["storescu", "-aec", "COMMON", "127.0.0.1", str(node_port)] + files,
                           check=True, env=dict(os.environ, TCP_NODELAY="1"))
            env_dir = os.path.join(work, "config")
            os.makedirs(env_dir)
            os.environ["XDG_CONFIG_HOME"] = env_dir
            node_args = ["--ip=127.0.0.1", f"--port={node_port}", "--aet=COMMON",
                         "--calling-aet=LUMO4410", f"--study-uid={STUDY}"]
            key = ["-S", "-k", "0008,0052=STUDY", "-k", f"0020,000D={STUDY}",
                   "-aec", "COMMON", "127.0.0.1", str(node_port)]
            out = os.path.join(work, "out")

            def kept(argv, flag):
                return lambda: (shutil.rmtree(out, ignore_errors=True), os.makedirs(out),
                                argv + [flag, out])[2]

            move = [cli, "move", "study", f"--store-port={lumo_port}"] + node_args
            get = [cli, "get", "study"] + node_args
            movescu = ["movescu", "--port", str(movescu_port)] + key
            getscu = ["getscu"] + key
            # dcmtk's tools leave Nagle's algorithm on unless TCP_NODELAY=1 says
            # otherwise: both ways are measured, the console's ratio is to each.
            nodelay = dict(os.environ, TCP_NODELAY="1")
            tools = {}
            for mode, flag, dcmtk_flag in (("counted", None, "--ignore"),
                                           ("kept", "--store-dir", "-od")):
                if mode not in modes:
                    continue
                def with_flag(argv, flag):
                    if flag is None:
                        return lambda: argv
                    if flag == "--ignore":
                        return lambda: argv + [flag]
                    return kept(argv, flag)
                for name, lumo, dcmtk in (("move", move, movescu), ("get", get, getscu)):
                    if name not in services:
                        continue
                    tools[(mode, f"lumo {name}")] = (with_flag(lumo, flag), None)
                    if not args.nodelay_tools_only:
                        tools[(mode, dcmtk[0])] = (with_flag(dcmtk, dcmtk_flag), None)
                    tools[(mode, f"{dcmtk[0]} TCP_NODELAY=1")] = (with_flag(dcmtk, dcmtk_flag),
                                                                   nodelay)
            small_args = [a.replace(STUDY, SMALL_STUDY) for a in node_args]
            memory = {
                "lumo move": lambda: [cli, "move", "study", f"--store-port={lumo_port}"] + small_args,
                "lumo get": lambda: [cli, "get", "study"] + small_args,
            }
            if "counted" not in modes:
                memory = {}
            memory = {k: v for k, v in memory.items() if k.split()[1] in services}
            # The dcmtk tools on the small study too: the time per instance
            # beyond it, apart from what a run costs whatever its count.
            small_key = [a.replace(STUDY, SMALL_STUDY) for a in key]
            small_tools = {}
            if "counted" in modes:
                for name in services:
                    tool = (["movescu", "--port", str(movescu_port)] if name == "move"
                            else ["getscu"])
                    small_tools[f"{tool[0]} TCP_NODELAY=1"] = tool + small_key + ["--ignore"]
            times = {name: [] for name in tools}
            small_peaks = {name: [] for name in memory}
            small_walls = {name: [] for name in list(memory) + list(small_tools)}

            def measure(name, argv, into, env=None):
                wall, cpu, peak, code = run_once(argv, work, env)
                if code != 0:
                    sys.exit(f"{name} failed with exit status {code}")
                into.append((wall, cpu, peak))

            for run in range(max(args.runs, args.dcmtk_runs)):
                for name, (argv, env) in tools.items():
                    if run >= (args.runs if name[1].startswith("lumo") else args.dcmtk_runs):
                        continue
                    measure(name, argv(), times[name], env)
                for name, argv in memory.items():
                    if run < args.runs:
                        measure(name, argv(), small_peaks[name])
                        small_walls[name].append(small_peaks[name][-1][0])
                for name, argv in small_tools.items():
                    if run < args.dcmtk_runs:
                        into = []
                        measure(name, argv, into, nodelay)
                        small_walls[name].append(into[0][0])
        finally:
            node.terminate()
            node.wait()
    node_words = "dcmqrscp with TCP_NODELAY=1" if args.node_nodelay else "dcmqrscp"
    print(f"{args.count} instances, one study from {node_words}, median and best of {args.runs} runs "
          f"of the console, {args.dcmtk_runs} of dcmtk's tools")
    print("| mode | client | median wall | best wall | instances/s | client CPU | client peak "
          "| wall / dcmtk | wall / dcmtk TCP_NODELAY=1 |")
    print("|---|---|---:|---:|---:|---:|---:|---:|---:|")
    medians = {}
    for (mode, client), runs in times.items():
        medians[(mode, client)] = statistics.median(w for w, _, _ in runs)
    reference = {"lumo move": "movescu", "lumo get": "getscu"}
    for (mode, client), runs in times.items():
        walls = sorted(w for w, _, _ in runs)
        median = medians[(mode, client)]
        cpu = statistics.median(c for _, c, _ in runs)
        peak = statistics.median(p for _, _, p in runs)
        ratios = ""
        if client in reference:
            plain = medians.get((mode, reference[client]))
            quick = medians[(mode, reference[client] + " TCP_NODELAY=1")]
            ratios = f"{median / plain:.2f}" if plain else "–"
            ratios += f" | {median / quick:.2f}"
        else:
            ratios = " | "
        print(f"| {mode} | {client} | {median * 1000:,.0f} ms | {walls[0] * 1000:,.0f} ms | "
              f"{args.count / median:,.0f} | {cpu * 1000:,.0f} ms | {peak / 1024:.1f} MB | "
              f"{ratios} |")
    if not small_peaks:
        return
    print()
    print(f"Counted: the time per instance beyond the first {small:,} (the {args.count:,}-instance "
          f"study's median wall less the {small:,}-instance study's, over the difference), and "
          "what a run costs whatever its count (start, census, associations, end):")
    print("| client | per instance | per run |")
    print("|---|---:|---:|")
    for name, walls in small_walls.items():
        large = medians.get(("counted", name))
        if large is None or not walls:
            continue
        per = (large - statistics.median(walls)) / (args.count - small)
        fixed = large - per * args.count
        print(f"| {name} | {per * 1e6:,.0f} µs | {fixed * 1000:,.0f} ms |")
    print()
    print("The console's peak counting without --store-dir, by instance count:")
    print(f"| client | {small:,} instances | {args.count:,} instances |")
    print("|---|---:|---:|")
    for name, runs in small_peaks.items():
        small_peak = statistics.median(p for _, _, p in runs)
        large_peak = statistics.median(p for _, _, p in times[("counted", name)])
        print(f"| {name} | {small_peak / 1024:.1f} MB | {large_peak / 1024:.1f} MB |")


if __name__ == "__main__":
    main()
