#!/usr/bin/env python3
"""DICOMweb benchmark: `lumo4410-cli study --dicomweb` next to curl.

Starts Debian's Orthanc with its DICOMweb plugin on 127.0.0.1 (a temporary
folder, on /dev/shm when there is one, ephemeral port), loads N studies into
it (one small generated instance each, posted to its REST /instances over a
few kept-alive connections: nothing is written or cached outside the
temporary folder), then runs, interleaved, their output discarded:

  cli   lumo4410-cli study --dicomweb URL (lists every answer, following
        the pages with limit and offset)
  curl  one curl process fetching the very same pages: the URLs the console
        asked, read from its --verbose report, with the same Accept and
        Accept-Encoding headers, over one kept-alive connection

and the console again listing one answer (--max-results=1) and one page of
1000 answers (--max-results=1000). Each is run RUNS times; the figures are
the median wall time, the median CPU time (user + system, from wait4) and
the highest peak resident memory. The console's memory per held answer is
its peak listing N answers less its peak listing one, over N - 1; as a page
is held only while it is read, the peak at N less the peak at one page, over
N - 1000, is the part held for good (the listing's text). The target printed
beside the figures: the console at most 1.2 x curl's wall time.

usage: qido-bench.py BUILD_DIR [--runs R] [--studies N] [--loaders K]
"""

import argparse
import http.client
import json
import os
import re
import signal
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time
import uuid

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from benchlib import free_port, load, machine  # noqa: E402

PLUGIN = "/usr/share/orthanc/plugins/libOrthancDicomWeb.so"
# What the console's HTTP client sends, so that curl asks the same.
# The console's page when no --max-results bounds it.
PAGE = 1000
ACCEPT = "Accept: application/dicom+json, application/json"
SECONDARY_CAPTURE = "1.2.840.10008.5.1.4.1.1.7"
EXPLICIT_LITTLE = "1.2.840.10008.1.2.1"
LONG_VRS = {b"OB", b"OW", b"OF", b"SQ", b"UT", b"UN", b"UC", b"UR"}


def element(group, number, vr, value):
    """One element in explicit VR little endian, its value padded to even."""
    if isinstance(value, str):
        value = value.encode("latin-1")
        if len(value) % 2:
            value += b"\0" if vr == b"UI" else b" "
    if vr in LONG_VRS:
        return struct.pack("<HH2sHI", group, number, vr, 0, len(value)) + value
    return struct.pack("<HH2sH", group, number, vr, len(value)) + value


def uid(kind, n):
    """A stable UID under 2.25 (a UUID as a decimal integer)."""
    return "2.25." + str(uuid.uuid5(uuid.NAMESPACE_OID, f"lumo4410-qido-bench/{kind}/{n}").int)


def instance(n):
    """A small secondary capture instance (no pixels) of study n, as a file."""
    sop = uid("instance", n)
    data = b"".join([
        element(0x0008, 0x0005, b"CS", "ISO_IR 100"),
        element(0x0008, 0x0016, b"UI", SECONDARY_CAPTURE),
        element(0x0008, 0x0018, b"UI", sop),
        element(0x0008, 0x0020, b"DA", f"2026{1 + n % 12:02d}{1 + n % 28:02d}"),
        element(0x0008, 0x0030, b"TM", f"{8 + n % 10:02d}{n % 60:02d}00"),
        element(0x0008, 0x0050, b"SH", f"ACC{n:07d}"),
        element(0x0008, 0x0060, b"CS", ("CT", "MR", "US", "CR")[n % 4]),
        element(0x0008, 0x0070, b"LO", "Lumo Imaging"),
        element(0x0008, 0x0080, b"LO", "Centre Hospitalier de Demonstration"),
        element(0x0008, 0x0090, b"PN", "GIRARD^Anne^^Dr"),
        element(0x0008, 0x1030, b"LO", "Examen de controle"),
        element(0x0008, 0x103E, b"LO", "Serie 1"),
        element(0x0010, 0x0010, b"PN", f"PATIENT^NUMBER{n}"),
        element(0x0010, 0x0020, b"LO", f"PID{n:07d}"),
        element(0x0010, 0x0030, b"DA", "19700101"),
        element(0x0010, 0x0040, b"CS", "FM"[n % 2]),
        element(0x0020, 0x000D, b"UI", uid("study", n)),
        element(0x0020, 0x000E, b"UI", uid("series", n)),
        element(0x0020, 0x0010, b"SH", "1"),
        element(0x0020, 0x0011, b"IS", "1"),
        element(0x0020, 0x0013, b"IS", "1"),
    ])
    meta = b"".join([
        element(0x0002, 0x0001, b"OB", b"\0\1"),
        element(0x0002, 0x0002, b"UI", SECONDARY_CAPTURE),
        element(0x0002, 0x0003, b"UI", sop),
        element(0x0002, 0x0010, b"UI", EXPLICIT_LITTLE),
        element(0x0002, 0x0012, b"UI", "2.25.1"),
    ])
    return (b"\0" * 128 + b"DICM" + element(0x0002, 0x0000, b"UL", struct.pack("<I", len(meta)))
            + meta + data)


def run_once(argv, cwd):
    """Runs argv with its output discarded: (wall s, cpu s, peak RSS KiB, exit code).

    The peak comes from /usr/bin/time, not from wait4: Linux carries the
    resident peak of the process that forked over exec, so wait4 would give
    at least this script's own peak (some 20 MB once it has posted the
    studies)."""
    peak_file = os.path.join(cwd, "peak")
    with open(os.devnull, "wb") as null:
        start = time.perf_counter()
        process = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", peak_file, *argv],
                                   stdout=null, stderr=null, stdin=subprocess.DEVNULL, cwd=cwd)
        _, status, usage = os.wait4(process.pid, 0)
        wall = time.perf_counter() - start
    with open(peak_file, encoding="utf-8") as f:
        peak = int(f.read().split()[-1])
    return wall, usage.ru_utime + usage.ru_stime, peak, os.waitstatus_to_exitcode(status)



class Orthanc:
    """Orthanc with the DICOMweb plugin, its storage and index in `work`,
    HTTP on 127.0.0.1 only, no DICOM port."""

    def __init__(self, work):
        self.log = open(os.path.join(work, "orthanc.log"), "w")
        for _ in range(5):
            self.port = free_port()
            config = os.path.join(work, "orthanc.json")
            with open(config, "w", encoding="utf-8") as f:
                json.dump({
                    "Name": "LUMOBENCH", "StorageDirectory": os.path.join(work, "db"),
                    "IndexDirectory": os.path.join(work, "db"), "HttpPort": self.port,
                    "RemoteAccessAllowed": False, "DicomServerEnabled": False,
                    "Plugins": [PLUGIN], "DicomWeb": {"Enable": True, "Root": "/dicom-web/"},
                    "SaveJobs": False, "StableAge": 3600,
                }, f)
            self.process = subprocess.Popen(["/usr/sbin/Orthanc", config], stdout=self.log,
                                            stderr=subprocess.STDOUT, cwd=work)
            deadline = time.monotonic() + 30
            while time.monotonic() < deadline and self.process.poll() is None:
                try:
                    connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=5)
                    connection.request("GET", "/system")
                    if connection.getresponse().status == 200:
                        return
                except OSError:
                    time.sleep(0.1)
            self.stop()
        sys.exit(f"Orthanc did not start (its log: {self.log.name})")

    def load(self, count, loaders):
        """Posts `count` studies over `loaders` connections at once."""
        failures = []

        def post(first):
            connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=60)
            for n in range(first, count + 1, loaders):
                connection.request("POST", "/instances", body=instance(n),
                                   headers={"Content-Type": "application/dicom"})
                answer = connection.getresponse()
                answer.read()
                if answer.status != 200:
                    failures.append(f"instance {n}: HTTP {answer.status}")
                    return
            connection.close()

        threads = [threading.Thread(target=post, args=(k,)) for k in range(1, loaders + 1)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        if failures:
            sys.exit("loading failed: " + failures[0])
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=60)
        connection.request("GET", "/statistics")
        studies = json.loads(connection.getresponse().read())["CountStudies"]
        if studies != count:
            sys.exit(f"Orthanc holds {studies} studies, {count} were posted")

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def pages_of(cli, base, work):
    """The URLs the console asks for a full study listing, from its report."""
    result = subprocess.run([*cli, "--verbose"], cwd=work, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True, check=False)
    if result.returncode != 0:
        sys.exit(f"the console failed ({result.returncode}):\n{result.stderr[-2000:]}")
    urls = re.findall(r"GET (" + re.escape(base) + r"\S+)", result.stderr)
    if not urls:
        sys.exit("no GET found in the console's report:\n" + result.stderr[-2000:])
    return urls




def median_row(runs):
    return {"wall": statistics.median(r[0] for r in runs),
            "cpu": statistics.median(r[1] for r in runs), "rss": max(r[2] for r in runs)}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--runs", type=int, default=int(os.environ.get("RUNS", "3")))
    parser.add_argument("--studies", type=int, default=int(os.environ.get("STUDIES", "10000")))
    parser.add_argument("--loaders", type=int, default=4)
    args = parser.parse_args()

    program = os.path.join(os.path.abspath(args.build), "app/cli/lumo4410-cli")
    if not os.access(program, os.X_OK):
        sys.exit(f"missing {program}: build lumo4410-cli first")
    for needed in ("/usr/sbin/Orthanc", PLUGIN, "/usr/bin/time"):
        if not os.path.exists(needed):
            sys.exit(f"missing {needed}: Debian's orthanc and orthanc-dicomweb")

    # Orthanc and its folder go with the benchmark on SIGTERM as on Ctrl-C.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("stopped"))
    before = load()
    shm = "/dev/shm" if os.access("/dev/shm", os.W_OK) else None
    with tempfile.TemporaryDirectory(prefix="lumo-qido-bench-", dir=shm) as work:
        orthanc = Orthanc(work)
        try:
            start = time.perf_counter()
            orthanc.load(args.studies, args.loaders)
            loading = time.perf_counter() - start
            base = f"http://127.0.0.1:{orthanc.port}/dicom-web"
            # Empty fields: every study, as the console benchmark asks over C-FIND.
            cli = [program, "study", f"--dicomweb={base}", "--date=", "--accession=", "--name=",
                   "--dossier="]
            urls = pages_of(cli, base, work)
            argvs = {
                "cli": cli,
                "curl": ["curl", "--silent", "--show-error", "--fail", "--compressed",
                         "--user-agent", "Lumo4410", "--header", ACCEPT, *urls],
                "cli one answer": [*cli, "--max-results=1"],
                "cli one page": [*cli, f"--max-results={PAGE}"],
            }
            samples = {name: [] for name in argvs}
            for name, argv in argvs.items():  # warm-up, and a check that each works
                if run_once(argv, work)[3] != 0:
                    sys.exit(f"{name} failed: {' '.join(argv)}")
            for _ in range(args.runs):
                for name, argv in argvs.items():
                    samples[name].append(run_once(argv, work))
        finally:
            orthanc.stop()
    after = load()

    rows = {name: median_row(runs) for name, runs in samples.items()}
    c, u, one, page = rows["cli"], rows["curl"], rows["cli one answer"], rows["cli one page"]
    print(f"DICOMweb benchmark: {args.studies} studies in Orthanc (loaded in {loading:.1f} s), "
          f"{len(urls)} pages, median of {args.runs} runs, output discarded")
    print(f"machine: {machine()}")
    print(f"load average (1/5/15 min) before: {before}, after: {after}")
    print(f"first page: {urls[0]}")
    if len(urls) > 1:
        print("then offset " + ", ".join(re.search(r"offset=(\d+)", u).group(1)
                                         for u in urls[1:]))
    for name, row in rows.items():
        print(f"{name:>15}: wall {row['wall'] * 1000:7.0f} ms, CPU {row['cpu'] * 1000:6.0f} ms, "
              f"peak {row['rss'] / 1024:6.1f} MB")
    held = (c["rss"] - one["rss"]) * 1024 / max(args.studies - 1, 1)
    print(f"cli / curl: wall {c['wall'] / u['wall']:.2f} (target: at most 1.2), "
          f"CPU {c['cpu'] / u['cpu']:.2f}")
    print(f"cli memory per held answer: {held:.0f} bytes (peak listing {args.studies} "
          f"less peak listing one, over {args.studies - 1})")
    if args.studies > PAGE:
        kept = (c["rss"] - page["rss"]) * 1024 / (args.studies - PAGE)
        print(f"cli memory held for good per answer: {kept:.0f} bytes (peak listing "
              f"{args.studies} less peak listing one page of {PAGE}, over {args.studies - PAGE})")


if __name__ == "__main__":
    main()
