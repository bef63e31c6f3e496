#!/usr/bin/env python3
"""Relay benchmark, many callers at once: worklist queries through
`lumo4410-cli listen` to dcmtk's wlmscpfs next to the same queries sent
straight to wlmscpfs, all callers started together.

wlmscpfs serves dcmtk's ten sample worklists (AE title OFFIS) in its usual
forking mode, a process for each association, so that callers straight to
it are served side by side; the relay relays to it with its default bounds
(32 associations, 8 per address, 8 relayed queries under way).

Two measures, RUNS times each, direct and relayed interleaved:

  8 findscu   eight findscu worklist queries started together, each asking
              for a day of its own (one entry each): the wall time from the
              start of the first to the end of the last; median and best.
  32 callers  thirty-two callers started together from eight loopback
              addresses (127.0.0.1 to 127.0.0.8, four each), a small DICOM
              client of this script bound to its address (findscu cannot
              choose one); how many got their entry and Success, and the
              wall time of the whole.

The relay's settings store and log go to a temporary folder and its listing
to /dev/null. Targets: 8 findscu through the relay within 1.2 x the direct
time; all 32 callers served.

usage: relay-callers-bench.py BUILD_DIR [--runs R]
"""

import argparse
import os
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from benchlib import free_port, stop, wait_for  # noqa: E402

SAMPLES = "/usr/share/doc/dcmtk/examples/wlistdb/OFFIS"
# The day of each sample worklist: asking one gives that entry alone.
DAYS = ["19951015", "19960805", "19960406", "19960123", "19960103", "19951206", "19930606",
        "19960502", "19960423", "19931204"]
WORKLIST_FIND = b"1.2.840.10008.5.1.4.31"




def findscu(port, day):
    return ["findscu", "-q", "-W", "-aet", "BENCH", "-aec", "OFFIS", "-to", "10", "-ta", "30",
            "-td", "120", "-k", f"0040,0100[0].0040,0002={day}", "-k", "0008,0050",
            "-k", "0010,0010", "-k", "0010,0020", "127.0.0.1", str(port)]


def findscu_at_once(port):
    """Wall time of eight findscu started together; exits on a failure."""
    start = time.perf_counter()
    with open(os.devnull, "wb") as null:
        runs = [subprocess.Popen(findscu(port, DAYS[i]), stdout=null, stderr=null)
                for i in range(8)]
        codes = [run.wait(timeout=300) for run in runs]
    wall = time.perf_counter() - start
    if any(codes):
        sys.exit(f"findscu failed: {codes}")
    return wall


# --- a small worklist caller, bound to a source address ----------------------

def item(kind, body):
    return struct.pack(">BBH", kind, 0, len(body)) + body


def pdu(kind, body):
    return struct.pack(">BBI", kind, 0, len(body)) + body


def element(group, number, value):
    if len(value) % 2:
        value += b" " if group != 0 else b"\0"
    return struct.pack("<HHI", group, number, len(value)) + value


def associate_request(calling):
    context = b"\x01\0\0\0" + item(0x30, WORKLIST_FIND) + item(0x40, b"1.2.840.10008.1.2")
    user = item(0x51, struct.pack(">I", 16384)) + item(0x52, b"1.2.826.0.1.3680043.2.1")
    return pdu(0x01, struct.pack(">HH", 1, 0) + b"OFFIS".ljust(16) + calling.ljust(16)
               + bytes(32) + item(0x10, b"1.2.840.10008.3.1.1.1") + item(0x20, context)
               + item(0x50, user))


def find_request(day):
    fields = (element(0, 0x0002, WORKLIST_FIND) + element(0, 0x0100, struct.pack("<H", 0x20))
              + element(0, 0x0110, struct.pack("<H", 1)) + element(0, 0x0700, b"\0\0")
              + element(0, 0x0800, b"\0\0"))
    command = element(0, 0x0000, struct.pack("<I", len(fields))) + fields
    step = (element(0x0008, 0x0060, b"") + element(0x0040, 0x0002, day.encode()))
    undefined = 0xFFFFFFFF
    identifier = (element(0x0008, 0x0050, b"") + element(0x0010, 0x0010, b"")
                  + element(0x0010, 0x0020, b"")
                  + struct.pack("<HHI", 0x0040, 0x0100, undefined)
                  + struct.pack("<HHI", 0xFFFE, 0xE000, undefined) + step
                  + struct.pack("<HHI", 0xFFFE, 0xE00D, 0)
                  + struct.pack("<HHI", 0xFFFE, 0xE0DD, 0))
    pdv = lambda control, data: struct.pack(">IBB", len(data) + 2, 1, control) + data
    return pdu(0x04, pdv(3, command)) + pdu(0x04, pdv(2, identifier))


def read_exactly(sock, size):
    data = b""
    while len(data) < size:
        chunk = sock.recv(size - len(data))
        if not chunk:
            raise ConnectionError("closed")
        data += chunk
    return data


def read_pdu(sock):
    kind, _, length = struct.unpack(">BBI", read_exactly(sock, 6))
    return kind, read_exactly(sock, length)


def command_status(data):
    at = 0
    while at + 8 <= len(data):
        group, number, length = struct.unpack("<HHI", data[at:at + 8])
        if (group, number) == (0, 0x0900):
            return struct.unpack("<H", data[at + 8:at + 10])[0]
        at += 8 + length
    return None


def call(source, port, day, calling, results, index):
    """One worklist query from `source`: (pending responses, final status) or an error."""
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=120,
                                      source_address=(source, 0)) as sock:
            sock.sendall(associate_request(calling))
            kind, _ = read_pdu(sock)
            if kind != 0x02:
                raise ConnectionError(f"association answered with PDU {kind}")
            sock.sendall(find_request(day))
            pending, command = 0, b""
            while True:
                kind, body = read_pdu(sock)
                if kind != 0x04:
                    raise ConnectionError(f"PDU {kind} during the query")
                at = 0
                while at < len(body):
                    length, _, control = struct.unpack(">IBB", body[at:at + 6])
                    fragment = body[at + 6:at + 4 + length]
                    at += 4 + length
                    if not control & 1:
                        continue
                    command += fragment
                    if not control & 2:
                        continue
                    status, command = command_status(command), b""
                    if status in (0xFF00, 0xFF01):
                        pending += 1
                    else:
                        sock.sendall(pdu(0x05, bytes(4)))
                        read_pdu(sock)
                        results[index] = (pending, status)
                        return
    except (OSError, ConnectionError) as e:
        results[index] = str(e)


def callers_at_once(port, count=32, addresses=8):
    """(served, wall s) for `count` callers from `addresses` loopback addresses."""
    results = [None] * count
    threads = [threading.Thread(target=call, args=(f"127.0.0.{1 + i % addresses}", port,
                                                   DAYS[i % len(DAYS)], f"CALLER{i}".encode(),
                                                   results, i))
               for i in range(count)]
    start = time.perf_counter()
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    wall = time.perf_counter() - start
    served = sum(1 for r in results if r == (1, 0))
    failures = [r for r in results if r != (1, 0)]
    return served, wall, failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--runs", type=int, default=11)
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    relay_program = os.path.join(args.build, "app/cli/lumo4410-cli")
    if not os.access(relay_program, os.X_OK):
        sys.exit(f"missing {relay_program}: build lumo4410-cli first")

    with tempfile.TemporaryDirectory(prefix="lumo-relay-callers-") as work:
        store = os.path.join(work, "wl", "OFFIS")
        os.makedirs(store)
        for name in os.listdir(SAMPLES):
            if name.endswith(".dump"):
                subprocess.check_call(["dump2dcm", "--write-xfer-little",
                                       os.path.join(SAMPLES, name),
                                       os.path.join(store, name[:-5] + ".wl")])
        open(os.path.join(store, "lockfile"), "w").close()
        node_port = free_port()
        node = subprocess.Popen(["wlmscpfs", "-dfp", os.path.join(work, "wl"), str(node_port)],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        relay_err = os.path.join(work, "relay.txt")
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work, "config"))
        with open(relay_err, "w") as err:
            relay = subprocess.Popen([relay_program, "listen", "0", "--ip=127.0.0.1",
                                      f"--port={node_port}", "--modality="],
                                     stdout=subprocess.DEVNULL, stderr=err, cwd=work, env=env)
        relay_port = int(wait_for(relay_err, r"port (\d+)", relay, "the relay"))
        try:
            time.sleep(0.5)  # wlmscpfs listening
            findscu_at_once(node_port)  # neither pays for a cold start
            findscu_at_once(relay_port)
            direct, relayed = [], []
            for _ in range(args.runs):
                direct.append(findscu_at_once(node_port))
                relayed.append(findscu_at_once(relay_port))
            d, r = statistics.median(direct), statistics.median(relayed)
            print(f"8 findscu at once, {args.runs} runs: direct median {d * 1000:.0f} ms"
                  f" (best {min(direct) * 1000:.0f}), relay median {r * 1000:.0f} ms"
                  f" (best {min(relayed) * 1000:.0f}), ratio {r / d:.2f}"
                  f" (best {min(relayed) / min(direct):.2f})")
            for what, port in (("direct", node_port), ("relay", relay_port)):
                served, walls, failed = [], [], []
                for _ in range(args.runs):
                    count, wall, failures = callers_at_once(port)
                    served.append(count)
                    walls.append(wall)
                    failed += failures
                print(f"32 callers from 8 addresses, {what}: served {min(served)} to"
                      f" {max(served)} of 32 in each of {args.runs} runs, median"
                      f" {statistics.median(walls) * 1000:.0f} ms")
                for failure in failed[:3]:
                    print(f"  not served: {failure}")
        finally:
            stop(relay)
            stop(node)


if __name__ == "__main__":
    main()
