#!/usr/bin/env python3
"""Console benchmark: `lumo4410-cli study` next to dcmtk's findscu.

For each response count N, a node answers every study query with N synthetic
responses, and three programs run the same study query against it,
interleaved, their output discarded:

  cli        lumo4410-cli study (lists every response)
  findscu-q  findscu -q (the transfer alone, nothing listed)
  findscu    plain findscu (its dump of every response)

The node is the replay node (bench/replay, lumo-replay-node) by default: its
answers are encoded once and written straight to the socket, so the clients,
not the node, set the pace. --node testnode takes the DCMTK test node
(lumo-testnode --synthetic) instead.

Each is run RUNS times; the table gives the median wall time, the median CPU
time (user + system, from wait4), the peak resident memory, and the console's
ratios to findscu -q (CPU and wall) and to plain findscu (wall). Then the
console's memory per response held: its peak at N less its peak at the
smallest N, over the difference in N. The targets are printed beside the
figures: CPU at most 0.8 x findscu -q and wall at most 1.0 x from 10,000
responses, at most 600 bytes held per response, a peak under 1 GB.

usage: console-bench.py BUILD_DIR [--runs R] [--counts 1,1000,10000,100000]
                        [--node replay|testnode] [--skip-dump-above N]
"""

import argparse
import os
import shlex
import statistics
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from benchlib import Node, load, machine, run_once  # noqa: E402

# The keys of the console's study identifier (command-group elements are not
# sent), so findscu asks the very same question.
STUDY_KEYS = [
    "SpecificCharacterSet=ISO_IR 100", "StudyDate", "SeriesDate", "StudyTime", "SeriesTime",
    "AccessionNumber", "QueryRetrieveLevel=STUDY", "Modality", "Manufacturer", "InstitutionName",
    "ReferringPhysicianName", "SeriesDescription", "PerformingPhysicianName", "OperatorsName",
    "ManufacturerModelName", "PatientName", "PatientID", "PatientBirthDate", "BodyPartExamined",
    "SecondaryCaptureDeviceManufacturer", "SecondaryCaptureDeviceManufacturerModelName",
    "SoftwareVersions", "StudyInstanceUID", "SeriesInstanceUID", "NumberOfStudyRelatedSeries",
    "NumberOfStudyRelatedInstances",
]




def commands(cli, port, keys, count, skip_dump_above, cli_extra):
    found = {
        "cli": [cli, "study", "--ip=127.0.0.1", f"--port={port}", "--date=", "--accession=",
                "--name=", "--dossier=", *cli_extra],
        "findscu-q": ["findscu", "-q", "-S", "-aet", "Lumo4410", "-aec", "NORVANEX", *keys,
                      "127.0.0.1", port],
        "findscu": ["findscu", "-S", "-aet", "Lumo4410", "-aec", "NORVANEX", *keys, "127.0.0.1",
                    port],
    }
    if count > skip_dump_above:
        del found["findscu"]
    return found


def measure(count, node_program, replay, cli, keys, args, work):
    """The median wall and CPU, and the highest peak, of each program at N."""
    node = Node(node_program, count, work, replay=replay)
    try:
        argvs = commands(cli, node.port, keys, count, args.skip_dump_above,
                         shlex.split(args.cli_extra))
        samples = {name: [] for name in argvs}
        for name, argv in argvs.items():  # warm-up, and a check that each works
            if run_once(argv, work)[3] != 0:
                sys.exit(f"{name} failed at N={count}: {' '.join(argv)}")
        for _ in range(args.runs):
            for name, argv in argvs.items():
                samples[name].append(run_once(argv, work))
    finally:
        node.stop()
    row = {"n": count}
    for name, runs in samples.items():
        row[name] = {
            "wall": statistics.median(r[0] for r in runs),
            "cpu": statistics.median(r[1] for r in runs),
            "rss": max(r[2] for r in runs),
        }
    return row


def cell(figures):
    if figures is None:
        return f"{'-':>9} {'-':>7} {'-':>8}"
    return (f"{figures['wall'] * 1000:7.0f}ms {figures['cpu'] * 1000:5.0f}ms "
            f"{figures['rss'] / 1024:6.1f}MB")


def report(rows, args, node_name, loads):
    print(f"console benchmark: median of {args.runs} runs, output discarded, node: {node_name}")
    print(f"machine: {machine()}")
    print(f"load average (1/5/15 min) before: {loads[0]}, after: {loads[1]}")
    header = (f"{'N':>8} | {'cli wall':>9} {'cpu':>7} {'rss':>8} | {'findscu -q':>9} {'cpu':>7} "
              f"{'rss':>8} | {'findscu':>9} {'cpu':>7} {'rss':>8} | {'cpu/-q':>6} {'wall/-q':>7} "
              f"{'wall/dump':>9}")
    print(header)
    print("-" * len(header))
    for row in rows:
        c, q, f = row["cli"], row["findscu-q"], row.get("findscu")
        dump = f"{c['wall'] / f['wall']:9.2f}" if f else f"{'-':>9}"
        print(f"{row['n']:>8} | {cell(c)} | {cell(q)} | {cell(f)} | {c['cpu'] / q['cpu']:6.2f} "
              f"{c['wall'] / q['wall']:7.2f} {dump}")
    base = rows[0]
    for row in rows[1:]:
        held = (row["cli"]["rss"] - base["cli"]["rss"]) * 1024 / (row["n"] - base["n"])
        print(f"cli memory per response held at N={row['n']}: {held:.0f} bytes (target: at most 600)")
    for row in rows:
        if row["n"] >= 10_000:
            c, q = row["cli"], row["findscu-q"]
            print(f"N={row['n']}: cli / findscu -q CPU {c['cpu'] / q['cpu']:.2f} (target: at most "
                  f"0.8), wall {c['wall'] / q['wall']:.2f} (target: at most 1.0), cli peak "
                  f"{row['cli']['rss'] / 1024:.0f} MB")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--runs", type=int, default=int(os.environ.get("RUNS", "5")))
    parser.add_argument("--counts", default=os.environ.get("COUNTS", "1,1000,10000,100000"))
    parser.add_argument("--node", choices=["replay", "testnode"],
                        default=os.environ.get("NODE", "replay"))
    # Plain findscu prints some 2 KB per response: a million take minutes.
    parser.add_argument("--skip-dump-above", type=int,
                        default=int(os.environ.get("SKIP_DUMP_ABOVE", "100000")))
    # More options of the console, e.g. "--json=out.json --csv=out.csv" (written
    # in the temporary folder the programs run in).
    parser.add_argument("--cli-extra", default=os.environ.get("CLI_EXTRA", ""))
    args = parser.parse_args()

    replay = args.node == "replay"
    args.build = os.path.abspath(args.build)  # the programs run in a temporary folder
    cli = os.path.join(args.build, "app/cli/lumo4410-cli")
    node_program = os.path.join(args.build, "bench/replay/lumo-replay-node" if replay
                                else "tests/fixtures/lumo-testnode")
    for program in (cli, node_program):
        if not os.access(program, os.X_OK):
            sys.exit(f"missing {program}: build lumo4410-cli and {os.path.basename(node_program)}"
                     " first")
    counts = [int(c) for c in args.counts.split(",")]

    keys = []
    for key in STUDY_KEYS:
        keys += ["-k", key]

    before = load()
    with tempfile.TemporaryDirectory(prefix="lumo-console-bench-") as work:
        rows = [measure(count, node_program, replay, cli, keys, args, work) for count in counts]
    report(rows, args, os.path.basename(node_program), (before, load()))


if __name__ == "__main__":
    main()
