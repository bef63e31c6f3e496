"""What the benchmark scripts share: running a program with its output
discarded, and the standalone test node answering synthetic responses."""

import os
import platform
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time


def machine():
    """One line on the machine: CPU model, cores, memory, kernel."""
    model = "unknown CPU"
    with open("/proc/cpuinfo", encoding="utf-8") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo", encoding="utf-8") as f:
        memory = int(f.readline().split()[1]) // (1024 * 1024)
    return f"{model}, {os.cpu_count()} cores, {memory} GiB, Linux {platform.release()}"


def load():
    """The load averages over 1, 5 and 15 minutes, as "1.00/0.80/0.50"."""
    return "/".join(f"{value:.2f}" for value in os.getloadavg())


def free_port():
    """A loopback TCP port nobody holds at the moment of asking."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def stop(process, timeout=15):
    """Ends a process: asked first, killed if it has not gone in `timeout` s."""
    process.terminate()
    try:
        process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def wait_for(path, pattern, process, what):
    """Waits up to 30 s for `pattern` in the file; returns its first group."""
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        with open(path, encoding="utf-8", errors="replace") as f:
            match = re.search(pattern, f.read(), re.MULTILINE)
        if match:
            return match.group(1)
        if process.poll() is not None:
            break
        time.sleep(0.05)
    process.kill()
    sys.exit(f"{what} did not start")


def run_once(argv, cwd, env=None):
    """Runs argv with its output discarded: (wall s, cpu s, peak RSS KiB, exit code).

    The CPU time comes from wait4, so it counts the children the program
    waited for (a shell loop's findscu runs). The peak comes from
    /usr/bin/time when it is there: the peak wait4 gives for a program started
    from this script is at least the script's own (Linux keeps a process's
    high-water mark across exec), some 14 MB."""
    timer = shutil.which("time", path="/usr/bin")
    with tempfile.NamedTemporaryFile("r") as peak_file, open(os.devnull, "wb") as null:
        prefix = [timer, "-f", "%M", "-o", peak_file.name] if timer else []
        start = time.perf_counter()
        process = subprocess.Popen(prefix + argv, stdout=null, stderr=null,
                                   stdin=subprocess.DEVNULL, cwd=cwd, env=env)
        _, status, usage = os.wait4(process.pid, 0)
        wall = time.perf_counter() - start
        peak = usage.ru_maxrss
        if timer:
            words = peak_file.read().split()
            peak = int(words[-1]) if words and words[-1].isdigit() else peak
    return wall, usage.ru_utime + usage.ru_stime, peak, os.waitstatus_to_exitcode(status)


class Node:
    """A standalone node answering every query with `count` synthetic
    responses, on the port it prints when ready: the test node (lumo-testnode,
    a DCMTK node) by default, or with `replay` the replay node
    (lumo-replay-node), whose answers are encoded once and cost it next to
    nothing."""

    def __init__(self, program, count, work, replay=False):
        self.output = open(os.path.join(work, f"node-{count}.txt"), "w+")
        argv = [program, "--responses" if replay else "--synthetic", str(count)]
        self.process = subprocess.Popen(argv, stdout=self.output, stderr=subprocess.DEVNULL)
        # Room for a million responses encoded on a loaded machine.
        deadline = time.monotonic() + 60
        self.port = None
        while time.monotonic() < deadline and self.port is None:
            self.output.seek(0)
            line = self.output.readline().strip()
            if line.isdigit():
                self.port = line
            elif self.process.poll() is not None:
                break
            else:
                time.sleep(0.05)
        if self.port is None:
            self.stop()
            sys.exit("the test node did not start")

    def stop(self):
        stop(self.process, timeout=10)
        self.output.close()
