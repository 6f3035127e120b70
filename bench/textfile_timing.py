#!/usr/bin/env python3
"""Whole-process cost of one textfile write, next to one scrape of the node
exporter with its default collectors, in the same run.

    bench/textfile_timing.py [BUILD_DIR] [runs]      (default build/linux, 7)

1. `check_vantric --textfile=FILE @contrib/textfile/textfile.args`: median
   wall and CPU time (user + system, from wait4) over the runs. A counter
   without a raw series makes the run wait -s (1 s); counters with one are
   read from a single collection.
2. The table-backed build over the same paths, every row with raw columns:
   the one-collection path alone (no pause, no /proc).
3. prometheus-node-exporter with its default collectors on a free local
   port (started here, stopped by its PID): wall time of one GET /metrics
   and the exporter's CPU time across it, from /proc/<pid>/stat (clock
   ticks); the first scrape apart, then the median of the others.
"""
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_timing  # noqa: E402

build = sys.argv[1] if len(sys.argv) > 1 else "build/linux"
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 7
root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
args_file = os.path.join(root, "contrib", "textfile", "textfile.args")
tick_ms = 1000.0 / os.sysconf("SC_CLK_TCK")


def run(path, args, env=None):
    wall, cpu, code = check_timing.run(path, args, env)
    if code != 0:
        sys.exit(f"{path} {args}: exit {code}")
    return wall, cpu


def report(name, samples):
    wall = statistics.median(w for w, _ in samples)
    cpu = statistics.median(c for _, c in samples)
    print(f"{name}: median over {len(samples)} runs: wall {wall:.3f} ms, CPU {cpu:.3f} ms")


# Rows with raw columns for the paths of the argument file (a timer, a
# fraction, counts, a bulk count): what the table build reads in one collection.
TABLE = "".join(
    f"{path}\t0\t0\t0\t\t{unit}\t\t\t{raw}\n" for path, unit, raw in [
        ("\\Processor(0)\\% Processor Time", "%", "0x21510500\t0\t4000000\t4000000\t10000000\t10000000"),
        ("\\Processor(1)\\% Processor Time", "%", "0x21510500\t0\t5000000\t4000000\t10000000\t10000000"),
        ("\\Memory\\Available Bytes", "B", "0x10100\t0\t1073741824\t0\t0"),
        ("\\LogicalDisk(sda1)\\% Free Space", "%", "0x20020400\t0\t25\t0\t100"),
        ("\\Network Interface(eth0)\\Bytes Total/sec", "", "0x10410500\t10000000\t4096\t4096\t0\t10000000"),
        ("\\System\\Processes", "", "0x10000\t0\t180\t0\t0"),
        ("\\System\\Threads", "", "0x10000\t0\t900\t0\t0"),
    ])


def exporter_stat(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) * tick_ms  # utime + stime


def exporter(work):
    binary = shutil.which("prometheus-node-exporter") or shutil.which("node_exporter")
    if binary is None:
        print("node exporter: not installed (tools/install-missing.sh prometheus-node-exporter)")
        return
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    log = open(os.path.join(work, "exporter.log"), "wb")
    p = subprocess.Popen([binary, f"--web.listen-address=127.0.0.1:{port}"], cwd=work,
                         stdout=log, stderr=log)
    try:
        url = f"http://127.0.0.1:{port}/metrics"
        for _ in range(100):
            try:
                urllib.request.urlopen(f"http://127.0.0.1:{port}/", timeout=1).read()
                break
            except OSError:
                time.sleep(0.05)
        scrapes = []
        for _ in range(runs + 1):
            before = exporter_stat(p.pid)
            start = time.perf_counter()
            body = urllib.request.urlopen(url, timeout=10).read()
            wall = (time.perf_counter() - start) * 1000
            scrapes.append((wall, exporter_stat(p.pid) - before, body.count(b"\n")))
            time.sleep(0.2)
        w, c, lines = scrapes[0]
        print(f"node exporter, first scrape: wall {w:.3f} ms, exporter CPU {c:.1f} ms, {lines} lines")
        rest = scrapes[1:]
        print(f"node exporter, one scrape: median over {len(rest)}: "
              f"wall {statistics.median(s[0] for s in rest):.3f} ms, "
              f"exporter CPU {statistics.median(s[1] for s in rest):.1f} ms "
              f"(clock ticks of {tick_ms:.0f} ms)")
    finally:
        p.terminate()
        try:
            p.wait(timeout=5)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()
        log.close()


with tempfile.TemporaryDirectory() as work:
    target = os.path.join(work, "vantric.prom")
    real = os.path.join(build, "app", "check_vantric")
    report("check_vantric --textfile @textfile.args",
           [run(real, [f"--textfile={target}", "@" + args_file]) for _ in range(runs)])
    table = os.path.join(work, "counters.tsv")
    with open(table, "w") as f:
        f.write(TABLE)
    sim = os.path.join(build, "app", "check_vantric-sim")
    report("check_vantric-sim, the same paths with raw columns",
           [run(sim, [f"--textfile={target}", "@" + args_file], {"VANTRIC_SIM_COUNTERS": table})
            for _ in range(runs)])
    exporter(work)
