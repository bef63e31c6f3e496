#!/usr/bin/env python3
"""Batch benchmark: `lumo4410-cli batch` next to a shell loop of dcmtk's findscu.

The standalone test node answers every study query with one synthetic
response. A file of RECORDS patient records (NOM;PRENOM;NAISSANCE;ACCESSION;
ID_ZUNDA) is reconciled two ways, interleaved, RUNS times each:

  batch        lumo4410-cli batch FILE: one study query per record (its own
               association each), one SQL line per record into FILE_RESULT.txt
  findscu-loop a bash `while read` loop over the same file that runs findscu
               once per record with the very same keys (its dump discarded)

Both ask with the study date emptied (--date=), so every record is answered.
The table gives the median wall time, the median CPU time (user + system,
children included) and records per second for each.

usage: batch-bench.py BUILD_DIR [--records 1000] [--runs 3]
(or BATCH_RECORDS and BATCH_RUNS in the environment)
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
# sent); the record's fields replace the four the batch sets.
STUDY_KEYS = [
    "SpecificCharacterSet=ISO_IR 100", "StudyDate", "SeriesDate", "StudyTime", "SeriesTime",
    "QueryRetrieveLevel=STUDY", "Modality", "Manufacturer", "InstitutionName",
    "ReferringPhysicianName", "SeriesDescription", "PerformingPhysicianName", "OperatorsName",
    "ManufacturerModelName", "PatientID", "BodyPartExamined",
    "SecondaryCaptureDeviceManufacturer", "SecondaryCaptureDeviceManufacturerModelName",
    "SoftwareVersions", "StudyInstanceUID", "SeriesInstanceUID", "NumberOfStudyRelatedSeries",
    "NumberOfStudyRelatedInstances",
]

LOOP = """#!/bin/bash
# findscu once per record, with the keys the console's study query carries.
port=$1
while IFS=';' read -r nom prenom naissance accession id; do
  findscu -S -aet Lumo4410 -aec NORVANEX {keys} \\
    -k "PatientName=$nom" -k "PatientBirthDate=$naissance" -k "AccessionNumber=$accession*" \\
    127.0.0.1 "$port" >/dev/null 2>&1 || exit 1
done < "$2"
"""


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--records", type=int, default=int(os.environ.get("BATCH_RECORDS", "1000")))
    parser.add_argument("--runs", type=int, default=int(os.environ.get("BATCH_RUNS", "3")))
    args = parser.parse_args()

    cli = os.path.join(args.build, "app/cli/lumo4410-cli")
    node_program = os.path.join(args.build, "tests/fixtures/lumo-testnode")
    for program in (cli, node_program):
        if not os.access(program, os.X_OK):
            sys.exit(f"missing {program}: build lumo4410-cli and lumo-testnode first")

    keys = " ".join(f"-k '{key}'" for key in STUDY_KEYS)
    with tempfile.TemporaryDirectory(prefix="lumo-batch-bench-") as work:
        records = os.path.join(work, "records.txt")
        with open(records, "w", newline="") as out:
            for i in range(1, args.records + 1):
                out.write(f"NOM{i};PRENOM;19600101;ACC{i};{i}\r\n")
        loop = os.path.join(work, "findscu-loop.sh")
        with open(loop, "w") as out:
            out.write(LOOP.replace("{keys}", keys))
        # The loop reads LF-ended lines; the same records without the CR.
        loop_records = os.path.join(work, "records-lf.txt")
        with open(records) as src, open(loop_records, "w") as dst:
            dst.write(src.read().replace("\r", ""))

        node = Node(node_program, 1, work)
        try:
            commands = {
                "batch": [cli, "batch", records, "--ip=127.0.0.1", f"--port={node.port}",
                          "--date=", "--dossier="],
                "findscu-loop": ["bash", loop, node.port, loop_records],
            }
            samples = {name: [] for name in commands}
            for _ in range(args.runs):
                for name, argv in commands.items():
                    wall, cpu, _, code = run_once(argv, work)
                    if code != 0:
                        sys.exit(f"{name} failed: {' '.join(argv)}")
                    samples[name].append((wall, cpu))
            with open(os.path.join(work, "records_RESULT.txt"), newline="") as result:
                lines = result.read().split("\r\n")[:-1]
            if len(lines) != args.records or not all(l.startswith("Update ") for l in lines):
                sys.exit("the batch did not write one statement per record")
        finally:
            node.stop()

    print(f"batch benchmark: {args.records} records, one response each, "
          f"median of {args.runs} runs")
    header = f"{'':>13} | {'wall':>9} | {'cpu':>9} | {'records/s':>10}"
    print(header)
    print("-" * len(header))
    rates = {}
    for name, runs in samples.items():
        wall = statistics.median(r[0] for r in runs)
        cpu = statistics.median(r[1] for r in runs)
        rates[name] = args.records / wall
        print(f"{name:>13} | {wall:8.2f}s | {cpu:8.2f}s | {rates[name]:10.1f}")
    print(f"batch / findscu-loop: {rates['batch'] / rates['findscu-loop']:.1f}x the records per second")


if __name__ == "__main__":
    main()
