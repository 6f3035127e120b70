#!/usr/bin/env python3
"""Whole-process timing of check_vantric on Linux, against vantric.

    bench/check_timing.py [BUILD_DIR] [pairs]      (default build/linux, 15)

1. One counter, vantric and check_vantric alternating on the same counter
   (processor total, one-second pause in both): the median extra wall time and
   CPU time of check_vantric (target: at most 0.5 ms more). The same for the
   table-backed test builds, which have no pause, to show start-up cost alone.
2. --list Process, whole run (target under 5 ms median).
3. -I '*' over Process with 2,000 processes started for the purpose (sleep
   processes in their own group, killed afterwards): CPU time of the run
   (target under 30 ms).
Times come from fork/exec/wait4 of this interpreter; CPU time is the child's
user plus system time from wait4.
"""
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time

build = sys.argv[1] if len(sys.argv) > 1 else "build/linux"
pairs = int(sys.argv[2]) if len(sys.argv) > 2 else 15
app = os.path.join(build, "app")
CPU = "\\Processor(_Total)\\% Processor Time"


def run(path, args, env=None):
    """Wall and CPU milliseconds of one run of `path`, and its exit status."""
    devnull = os.open(os.devnull, os.O_WRONLY)
    start = time.perf_counter()
    # posix_spawn (vfork underneath): a forked copy of this interpreter would
    # bill its own page faults before exec to the child's CPU time.
    pid = os.posix_spawn(path, [path] + args, dict(os.environ, **(env or {})),
                         file_actions=[(os.POSIX_SPAWN_DUP2, devnull, 1)])
    _, status, usage = os.wait4(pid, 0)
    wall = time.perf_counter() - start
    os.close(devnull)
    return wall * 1000, (usage.ru_utime + usage.ru_stime) * 1000, os.waitstatus_to_exitcode(status)


def alternate(name, a, b, n):
    # The second run of a back-to-back pair comes out about a millisecond
    # slower whatever it is (an A/A pair shows it), so the order swaps every
    # pair and the bias cancels.
    dw, dc = [], []
    for i in range(n):
        if i % 2 == 0:
            wa, ca, _ = a()
            wb, cb, _ = b()
        else:
            wb, cb, _ = b()
            wa, ca, _ = a()
        dw.append(wb - wa)
        dc.append(cb - ca)
    print(f"{name}: check_vantric - vantric, median over {n} pairs: wall {statistics.median(dw):+.3f} ms, "
          f"cpu {statistics.median(dc):+.3f} ms")
    return statistics.median(dw)


def main():
    vantric, check = os.path.join(app, "vantric"), os.path.join(app, "check_vantric")
    extra = alternate("one counter (1 s pause)",
                      lambda: run(vantric, ["-C", "Processor", "-I", "_Total", "-P", "% Processor Time"]),
                      lambda: run(check, ["-C", "Processor", "-I", "_Total", "-P", "% Processor Time"]),
                      pairs)
    with tempfile.NamedTemporaryFile("w", suffix=".tsv", delete=False) as t:
        t.write(f"{CPU}\t0\t0\t12.5\tpercent\t%\tbusy\n")
    env = {"VANTRIC_SIM_COUNTERS": t.name}
    alternate("test builds (no pause)",
              lambda: run(os.path.join(app, "vantric-sim"), ["-C", "Processor", "-I", "_Total", "-P", "% Processor Time"], env),
              lambda: run(os.path.join(app, "check_vantric-sim"), ["-p", CPU], env), pairs * 20)
    os.unlink(t.name)

    base = [run(check, ["-V"])[0] for _ in range(30)]
    lists = [run(check, ["--list", "Process"])[0] for _ in range(30)]
    print(f"--list Process: median {statistics.median(lists):.3f} ms wall over 30 runs (target < 5); "
          f"check_vantric -V, the start-up alone: {statistics.median(base):.3f} ms")

    # The same over a table of 2,000 Process instances: the program's own
    # share (expansion, 2,000 adds, evaluation, the output) without /proc.
    with tempfile.NamedTemporaryFile("w", suffix=".tsv", delete=False) as t:
        for i in range(2000):
            t.write(f"\\Process(p{i})\\Working Set\t0\t0\t{1000 + i}\tgauge\tB\tbytes\n")
    cpus = [run(os.path.join(app, "check_vantric-sim"), ["-C", "Process", "-I", "*", "-P", "Working Set",
                                                         "-c", "2500"], {"VANTRIC_SIM_COUNTERS": t.name})[1]
            for _ in range(5)]
    os.unlink(t.name)
    print(f"-I '*' over a table of 2,000 Process instances: median cpu {statistics.median(cpus):.3f} ms (target < 30)")

    group = subprocess.Popen(["sh", "-c", "for i in $(seq 2000); do sleep 600 & done; wait"],
                             start_new_session=True)
    try:
        for _ in range(200):
            n = int(subprocess.run(["pgrep", "-c", "-s", str(group.pid)], capture_output=True,
                                   text=True).stdout or 0)
            if n >= 2000:
                break
            time.sleep(0.1)
        procs = len(os.listdir("/proc"))
        cpus = []
        for _ in range(5):
            _, cpu, status = run(check, ["-C", "Process", "-I", "*", "-P", "Working Set", "-s", "100"])
            cpus.append(cpu)
        print(f"-I '*' over Process ({procs} /proc entries): median cpu {statistics.median(cpus):.3f} ms"
              f" over 5 runs, status {status} (target < 30)")
    finally:
        os.killpg(group.pid, signal.SIGKILL)
        group.wait()
    print(f"single-counter extra wall {extra:+.3f} ms (target <= 0.5)")


if __name__ == "__main__":
    main()
