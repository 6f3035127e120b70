#!/usr/bin/env python3
"""Whole-process timing of the built program on Linux.

    bench/process_timing.py [path/to/vantric] [runs]

Reports, over repeated runs: the overhead above the one-second pause for the
processor total (target under 3 ms median), the whole run for an unknown
object (target under 2 ms median), and the peak resident memory (target
under 3 MB). Forking this interpreter costs about a millisecond of its own
(the /bin/true baseline shows it); `perf stat -r 50 <command>` gives the
same figures with a lighter launcher. Memory is read by /usr/bin/time: a child forked from this
interpreter would inherit the interpreter's own high-water mark.
"""
import os
import statistics
import subprocess
import sys
import time

prog = sys.argv[1] if len(sys.argv) > 1 else "build/linux/app/vantric"
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 20


def run(args):
    return run_program(prog, args)


def run_program(path, args):
    devnull = os.open(os.devnull, os.O_WRONLY)
    start = time.perf_counter()
    pid = os.fork()
    if pid == 0:
        os.dup2(devnull, 1)
        os.execv(path, [path] + args)
    _, status = os.waitpid(pid, 0)
    elapsed = time.perf_counter() - start
    os.close(devnull)
    return elapsed, os.waitstatus_to_exitcode(status)


def peak_kb(args):
    p = subprocess.run(["/usr/bin/time", "-f", "%M", prog] + args, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE, text=True)
    return int(p.stderr.strip().splitlines()[-1])


def series(args, n):
    results = [run(args) for _ in range(n)]
    return [r[0] for r in results], peak_kb(args), {r[1] for r in results}


# What starting any program costs this harness (fork of the interpreter, exec,
# wait): shown so the program's own share can be read off.
baseline = [run_program("/bin/true", [])[0] for _ in range(runs * 5)]
print(f"harness baseline (/bin/true): median {statistics.median(baseline) * 1000:.2f} ms")

total, rss1, st1 = series(["-C", "Processor", "-I", "_Total", "-P", "% Processor Time"], runs)
unknown, rss2, st2 = series(["-C", "NoSuchObject", "-P", "X"], runs * 5)
overhead = [(t - 1.0) * 1000 for t in total]
print(f"processor total: overhead above the pause median {statistics.median(overhead):.2f} ms "
      f"(min {min(overhead):.2f}, max {max(overhead):.2f}) over {runs} runs, exit {sorted(st1)}")
print(f"unknown object: whole run median {statistics.median(unknown) * 1000:.2f} ms "
      f"(min {min(unknown) * 1000:.2f}) over {runs * 5} runs, exit {sorted(st2)}")
print(f"peak resident memory: {max(rss1, rss2) / 1024:.2f} MB")
