#!/usr/bin/env python3
"""Console benchmark: `lumo4410-cli study` next to dcmtk's findscu.

For each response count N, the standalone test node answers every study
query with N synthetic responses, and three programs run the same study
query against it, interleaved, their output discarded:

  cli        lumo4410-cli study (lists every response)
  findscu-q  findscu -q (the transfer alone, nothing listed)
  findscu    plain findscu (its dump of every response)

Each is run RUNS times; the table gives the median wall time, the median CPU
time (user + system), the peak resident memory, the ratios of the console to
both findscu runs, and the console's memory per response held (its peak at N
less its peak at the smallest N, over the difference in N).

usage: console-bench.py BUILD_DIR [--runs R] [--counts 1,1000,10000,100000]
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from benchlib import Node, run_once  # noqa: E402

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


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--runs", type=int, default=int(os.environ.get("RUNS", "5")))
    parser.add_argument("--counts", default=os.environ.get("COUNTS", "1,1000,10000,100000"))
    args = parser.parse_args()

    cli = os.path.join(args.build, "app/cli/lumo4410-cli")
    node_program = os.path.join(args.build, "tests/fixtures/lumo-testnode")
    for program in (cli, node_program):
        if not os.access(program, os.X_OK):
            sys.exit(f"missing {program}: build lumo4410-cli and lumo-testnode first")
    counts = [int(c) for c in args.counts.split(",")]

    keys = []
    for key in STUDY_KEYS:
        keys += ["-k", key]

    rows = []
    with tempfile.TemporaryDirectory(prefix="lumo-console-bench-") as work:
        for count in counts:
            node = Node(node_program, count, work)
            try:
                commands = {
                    "cli": [cli, "study", "--ip=127.0.0.1", f"--port={node.port}", "--date=",
                            "--accession=", "--name=", "--dossier="],
                    "findscu-q": ["findscu", "-q", "-S", "-aet", "Lumo4410", "-aec", "NORVANEX",
                                  *keys, "127.0.0.1", node.port],
                    "findscu": ["findscu", "-S", "-aet", "Lumo4410", "-aec", "NORVANEX", *keys,
                                "127.0.0.1", node.port],
                }
                samples = {name: [] for name in commands}
                for name, argv in commands.items():  # warm-up, and a check that each works
                    if run_once(argv, work)[3] != 0:
                        sys.exit(f"{name} failed at N={count}: {' '.join(argv)}")
                for _ in range(args.runs):
                    for name, argv in commands.items():
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
            rows.append(row)

    print(f"console benchmark: median of {args.runs} runs, output discarded")
    header = (f"{'N':>8} | {'cli wall':>9} {'cpu':>7} {'rss':>8} | {'findscu -q':>10} {'cpu':>7} "
              f"{'rss':>8} | {'findscu':>9} {'cpu':>7} {'rss':>8} | {'cli/-q':>6} {'cli/dump':>8}")
    print(header)
    print("-" * len(header))
    for row in rows:
        c, q, f = row["cli"], row["findscu-q"], row["findscu"]
        print(f"{row['n']:>8} | {c['wall'] * 1000:7.1f}ms {c['cpu'] * 1000:5.0f}ms {c['rss'] / 1024:6.1f}MB"
              f" | {q['wall'] * 1000:8.1f}ms {q['cpu'] * 1000:5.0f}ms {q['rss'] / 1024:6.1f}MB"
              f" | {f['wall'] * 1000:7.1f}ms {f['cpu'] * 1000:5.0f}ms {f['rss'] / 1024:6.1f}MB"
              f" | {c['wall'] / q['wall']:6.2f} {c['wall'] / f['wall']:8.2f}")
    base = rows[0]
    for row in rows[1:]:
        held = (row["cli"]["rss"] - base["cli"]["rss"]) * 1024 / (row["n"] - base["n"])
        print(f"cli memory per response held at N={row['n']}: {held:.0f} bytes")
    worst = max(row["cli"]["wall"] / row["findscu-q"]["wall"] for row in rows)
    print(f"worst cli / findscu -q wall ratio: {worst:.2f} (target: at most 1.20)")


if __name__ == "__main__":
    main()
