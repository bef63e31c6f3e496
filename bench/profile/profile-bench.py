#!/usr/bin/env python3
"""Profile benchmark: `lumo4410-cli profile` against a real archive holding
STUDIES studies, and against the test node answering every query with COUNT
synthetic responses.

The archive is Orthanc (its SQLite index, no plugin): STUDIES small
Secondary Capture images (one study, one series, one image each; two
studies a patient) written here and sent to it with storescu before the
runs, served on loopback. (dcmtk's dcmqrscp is no fit at this size: it
stores about one image a second once it holds a few hundred, and dcmqridx
keeps too few studies.)

The test node (lumo-testnode --synthetic) answers every query with COUNT
responses, whatever its keys: the worst a profile can meet, since each of
its broad queries runs to its C-CANCEL and each probe to its own.

The table gives the median wall time and CPU time (user + system, the
console's alone) of RUNS profiles, and the exit code of the last.

usage: profile-bench.py BUILD_DIR [--studies 10000] [--counts 10,10000] [--runs 3]
(or PROFILE_STUDIES, PROFILE_COUNTS and PROFILE_RUNS in the environment;
--studies 0 or --counts "" leaves that part out)
"""

import argparse
import json
import os
import shutil
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from benchlib import Node, free_port, run_once, stop  # noqa: E402

SECONDARY_CAPTURE = "1.2.840.10008.5.1.4.1.1.7"
EXPLICIT_LITTLE = "1.2.840.10008.1.2.1"
ROOT = "1.2.826.0.1.3680043.9.4410.7"
LONG_VRS = {"OB", "OW", "SQ", "UN", "UT", "UC", "UR"}


def element(group, number, vr, value):
    """One element in explicit VR little endian, its value padded to even length."""
    data = value if isinstance(value, bytes) else value.encode("ascii")
    if len(data) % 2:
        data += b"\0" if vr in ("UI", "OB") else b" "
    head = struct.pack("<HH2s", group, number, vr.encode("ascii"))
    if vr in LONG_VRS:
        return head + struct.pack("<HI", 0, len(data)) + data
    return head + struct.pack("<H", len(data)) + data


def image_file(study):
    """A DICOM file holding one small image of study number `study`."""
    patient = study // 2
    sop = f"{ROOT}.3.{study}.1.1"
    day = 1 + study % 28
    month = 1 + (study // 28) % 12
    body = b"".join([
        element(0x0008, 0x0016, "UI", SECONDARY_CAPTURE),
        element(0x0008, 0x0018, "UI", sop),
        element(0x0008, 0x0020, "DA", f"2019{month:02}{day:02}"),
        element(0x0008, 0x0030, "TM", f"{8 + study % 10:02}{study % 60:02}00"),
        element(0x0008, 0x0050, "SH", f"ACC{study:07}"),
        element(0x0008, 0x0060, "CS", ("CT", "MR", "OT", "US")[study % 4]),
        element(0x0008, 0x0090, "PN", f"REFERENT^{chr(65 + study % 26)}"),
        element(0x0008, 0x1030, "LO", f"Etude {study}"),
        element(0x0010, 0x0010, "PN", f"PATIENT{patient:05}^PRENOM"),
        element(0x0010, 0x0020, "LO", f"PID{patient:05}"),
        element(0x0010, 0x0030, "DA", f"19{50 + patient % 50:02}0101"),
        element(0x0010, 0x0040, "CS", "MF"[patient % 2]),
        element(0x0020, 0x000D, "UI", f"{ROOT}.1.{study}"),
        element(0x0020, 0x000E, "UI", f"{ROOT}.2.{study}.1"),
        element(0x0020, 0x0010, "SH", f"S{study}"),
        element(0x0020, 0x0011, "IS", "1"),
        element(0x0020, 0x0013, "IS", "1"),
    ])
    meta = b"".join([
        element(0x0002, 0x0001, "OB", b"\0\1"),
        element(0x0002, 0x0002, "UI", SECONDARY_CAPTURE),
        element(0x0002, 0x0003, "UI", sop),
        element(0x0002, 0x0010, "UI", EXPLICIT_LITTLE),
        element(0x0002, 0x0012, "UI", f"{ROOT}.0"),
    ])
    length = element(0x0002, 0x0000, "UL", struct.pack("<I", len(meta)))
    return b"\0" * 128 + b"DICM" + length + meta + body



class Archive:
    """Orthanc on loopback (AE title ORTHANC) holding `studies` studies."""

    def __init__(self, studies, work):
        storage = os.path.join(work, "COMMON")
        incoming = os.path.join(work, "in")
        os.makedirs(storage)
        os.makedirs(incoming)
        for study in range(studies):
            with open(os.path.join(incoming, f"im{study}.dcm"), "wb") as f:
                f.write(image_file(study))
        config = os.path.join(work, "orthanc.json")
        self.port = free_port()
        with open(config, "w") as f:
            json.dump({"StorageDirectory": storage, "IndexDirectory": storage,
                       "HttpServerEnabled": False, "DicomAet": "ORTHANC",
                       "DicomPort": self.port, "DicomCheckCalledAet": True, "Plugins": [],
                       "SyncStorageArea": False, "DicomAlwaysAllowFind": True,
                       "DicomAlwaysAllowEcho": True, "DicomThreadsCount": 8}, f)
        self.log = open(os.path.join(work, "orthanc.txt"), "w")
        self.process = subprocess.Popen(["Orthanc", config], stdout=self.log,
                                        stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 30
        while True:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                break
            except OSError:
                if self.process.poll() is not None or time.monotonic() > deadline:
                    self.stop()
                    sys.exit("Orthanc did not start")
                time.sleep(0.05)
        # Sent over 8 associations at once: each store waits on the network,
        # not on the machine.
        senders = [subprocess.Popen(["storescu", "-aec", "ORTHANC", "127.0.0.1", str(self.port)]
                                    + [os.path.join(incoming, f"im{study}.dcm")
                                       for study in range(first, studies, 8)],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                   for first in range(min(8, studies))]
        if any([sender.wait() != 0 for sender in senders]):
            self.stop()
            sys.exit("storescu failed")
        shutil.rmtree(incoming)

    def stop(self):
        stop(self.process, timeout=10)
        self.log.close()


def row(name, runs):
    wall = statistics.median(r[0] for r in runs)
    cpu = statistics.median(r[1] for r in runs)
    print(f"{name:>26} | {wall:7.2f}s | {cpu:7.2f}s | {runs[-1][3]:>4}", flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--studies", type=int,
                        default=int(os.environ.get("PROFILE_STUDIES", "10000")))
    parser.add_argument("--counts", default=os.environ.get("PROFILE_COUNTS", "10,10000"))
    parser.add_argument("--runs", type=int, default=int(os.environ.get("PROFILE_RUNS", "3")))
    args = parser.parse_args()

    build = os.path.abspath(args.build)
    cli = os.path.join(build, "app/cli/lumo4410-cli")
    node_program = os.path.join(build, "tests/fixtures/lumo-testnode")
    for program in (cli, node_program):
        if not os.access(program, os.X_OK):
            sys.exit(f"missing {program}: build lumo4410-cli and lumo-testnode first")

    print(f"profile benchmark: lumo4410-cli profile, median of {args.runs} runs")
    header = f"{'node':>26} | {'wall':>8} | {'cpu':>8} | {'exit':>4}"
    print(header)
    print("-" * len(header), flush=True)
    # In memory where it can be, so that the archive's disk is not measured.
    memory = "/dev/shm" if os.path.isdir("/dev/shm") else None
    with tempfile.TemporaryDirectory(prefix="lumo-profile-bench-", dir=memory) as work:
        if args.studies > 0:
            archive = Archive(args.studies, work)
            try:
                argv = [cli, "profile", "--ip=127.0.0.1", f"--port={archive.port}", "--aet=ORTHANC"]
                row(f"Orthanc, {args.studies} studies",
                    [run_once(argv, work) for _ in range(args.runs)])
            finally:
                archive.stop()
        for count in (int(c) for c in args.counts.split(",") if c):
            node = Node(node_program, count, work)
            try:
                argv = [cli, "profile", "--ip=127.0.0.1", f"--port={node.port}"]
                row(f"test node, {count} answers", [run_once(argv, work) for _ in range(args.runs)])
            finally:
                node.stop()


if __name__ == "__main__":
    main()
