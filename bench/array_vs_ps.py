#!/usr/bin/env python3
r"""Whole-process cost of reading every process's working set through an
array counter, next to `ps -e -o pid,rss,comm`, and the peak memory of the
probe's Interrupts/sec total on a large /proc/interrupts.

  bench/array_vs_ps.py [--probe PATH] [--vantric PATH] [--rounds N]
                       [--processes N ...] [--interrupts CPUSxROWS]
                       [--check PATH] [--reader PATH] [--paths N ...]

--processes  process counts to measure at (default: the current count);
             sleeping children are started to reach each count (at most
             10,000) and killed afterwards: half of them share the name
             "sleep", half run under names of their own (links to sleep)
--check      the check_vantric to measure at each count as well: every
             process's Working Set from one sample next to ps and next to
             --reader, and every process's % Processor Time over one second
             next to `pidstat -u 1 1` (package sysstat)
--reader     the minimal reader of /proc/<pid>/stat (bench/stat_reader)
--paths      with --check: N -p paths of cheap gauges (from /proc/meminfo
             and /proc/stat) in one run, CPU and wall time
--mounts     as root: \LogicalDisk(*)\% Free Space over N bind mounts of one
             directory, each count in a private mount namespace (unshare -m)
--interfaces as root: \Network Interface(*)\Bytes Total/sec (two collections,
             no pause) over N veth interfaces in a private network namespace
             (unshare -n)
--interrupts as root: vantric -C Processor -I _Total -P Interrupts/sec with
             a generated /proc/interrupts of CPUS columns and ROWS lines
             bind-mounted in a private mount namespace (unshare -m)

CPU is the child's user + system time from wait4, the median of
alternating runs; memory is wait4's peak resident set (ru_maxrss).
The figures are printed, never judged.
"""
import argparse
import contextlib
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time


def run(argv, statuses=(0,)):
    """(cpu ms, peak kB) of one run of argv, output discarded."""
    pid = os.fork()
    if pid == 0:
        fd = os.open(os.devnull, os.O_WRONLY)
        os.dup2(fd, 1)
        os.dup2(fd, 2)
        try:
            os.execvp(argv[0], argv)
        finally:
            os._exit(127)
    _, status, ru = os.wait4(pid, 0)
    if os.waitstatus_to_exitcode(status) not in statuses:
        sys.exit(f"failed: {' '.join(argv)}")
    return (ru.ru_utime + ru.ru_stime) * 1000.0, ru.ru_maxrss


def process_count():
    return sum(1 for e in os.listdir("/proc") if e.isdigit())


def versus(mine, theirs, rounds, statuses=(0,)):
    """Median cpu ms of two commands ((name, argv) each) in alternating runs."""
    cpu = ([], [])
    for _ in range(rounds):
        cpu[0].append(run(mine[1], statuses)[0])
        cpu[1].append(run(theirs[1])[0])
    a, b = (statistics.median(c) for c in cpu)
    print(f"{process_count():6d} processes: {mine[0]} {a:7.2f} ms cpu, "
          f"{theirs[0]} {b:7.2f} ms cpu, ratio {a / b:.2f}")


def compare(args):
    ps = ("ps -e -o pid,rss,comm", ["ps", "-e", "-o", "pid,rss,comm"])
    versus(("array probe", [args.probe, "\\Process(*)\\Working Set"]), ps, args.rounds)
    if not args.check:
        return
    # A process that cannot be read makes the check UNKNOWN: still a whole run.
    any_state = (0, 1, 2, 3)
    working_set = ("check_vantric -s 0", [args.check, "-C", "Process", "-I", "*", "-P",
                                          "Working Set", "-s", "0"])
    versus(working_set, ps, args.rounds, any_state)
    versus(working_set, ("stat reader", [args.reader]), args.rounds, any_state)
    versus(("check_vantric % Processor Time", [args.check, "-p", "\\Process(*)\\% Processor Time"]),
           ("pidstat -u 1 1", ["pidstat", "-u", "1", "1"]), args.rounds, any_state)


def many_paths(check, counts, rounds):
    gauges = ["\\Memory\\Available Bytes", "\\Memory\\Cache Bytes", "\\System\\Processes",
              "\\System\\Threads"]
    for n in counts:
        with tempfile.NamedTemporaryFile("w", prefix="paths-", suffix=".args", delete=False) as f:
            f.writelines(f"-p '{gauges[i % len(gauges)]}'\n" for i in range(n))
        try:
            runs = []
            for _ in range(rounds):
                begin = time.monotonic()
                cpu = run([check, "-s", "0", "@" + f.name], (0, 1, 2, 3))[0]
                runs.append((cpu, (time.monotonic() - begin) * 1000.0))
            cpu, wall = (statistics.median(r[i] for r in runs) for i in (0, 1))
            print(f"{n:6d} -p paths: check_vantric {cpu:7.2f} ms cpu, {wall:7.2f} ms wall")
        finally:
            os.unlink(f.name)


@contextlib.contextmanager
def sleeping():
    """A function that starts sleeping children up to a process count; all
    of them are killed on leaving."""
    sleepers = []
    links = tempfile.mkdtemp(prefix="sleepers-")
    try:
        yield lambda target: start_sleepers(min(target, 10000), links, sleepers)
    finally:
        for p in sleepers:
            p.send_signal(signal.SIGKILL)
        for p in sleepers:
            p.wait()
        subprocess.run(["rm", "-rf", links])


def start_sleepers(target, links, sleepers):
    """Sleeping children up to `target` processes, every other one under a name of its own."""
    while process_count() < target:
        i = len(sleepers)
        argv = ["sleep", "600"]
        if i % 2:
            link = os.path.join(links, f"sleeper{i}")
            os.symlink("/bin/sleep", link)
            argv[0] = link
        sleepers.append(subprocess.Popen(argv))


def interrupts(vantric, shape):
    cpus, rows = (int(x) for x in shape.split("x"))
    with tempfile.NamedTemporaryFile("w", prefix="interrupts-", delete=False) as f:
        f.write(" " * 4 + "".join(f"{'CPU%d' % c:>11}" for c in range(cpus)) + "\n")
        for r in range(rows):
            f.write(f"{r:4d}:" + "".join(f"{(r * 7 + c) % 100000:11d}" for c in range(cpus)) +
                    "  IR-PCI-MSI  dev\n")
        path = f.name
    try:
        size = os.path.getsize(path)
        cmd = (f"mount --bind {path} /proc/interrupts && exec /usr/bin/time -f %M "
               f"{vantric} -C Processor -I _Total -P Interrupts/sec")
        out = subprocess.run(["unshare", "-m", "sh", "-c", cmd], capture_output=True, text=True)
        peak = out.stderr.strip().splitlines()[-1] if out.stderr.strip() else "?"
        print(f"Interrupts/sec _Total, {cpus} CPUs x {rows} rows ({size / 1e6:.1f} MB file): "
              f"value {out.stdout.strip()}, peak {peak} kB")
    finally:
        os.unlink(path)


def measure(probe, path, rounds, interval=None):
    """Median cpu ms of the probe reading `path`."""
    argv = [probe, path] + ([str(interval)] if interval is not None else [])
    return statistics.median(run(argv)[0] for _ in range(rounds))


def in_namespace(flag, setup, args, path, interval=None):
    """Runs this script's --measure inside a new namespace after `setup`."""
    me = os.path.abspath(__file__)
    inner = (f"{setup} && exec {sys.executable} {me} --probe {args.probe} --rounds {args.rounds} "
             f"--measure '{path}'" + (f" --interval {interval}" if interval is not None else ""))
    out = subprocess.run(["unshare", flag, "sh", "-c", inner], capture_output=True, text=True)
    if out.returncode != 0:
        sys.exit(f"namespace run failed: {out.stderr.strip()}")
    return float(out.stdout.strip())


def scaling(args):
    base = tempfile.mkdtemp(prefix="mounts-", dir="/var/tmp")
    try:
        os.mkdir(os.path.join(base, "src"))
        for n in args.mounts:
            script = os.path.join(base, f"mount{n}.sh")
            with open(script, "w") as f:
                for i in range(n):
                    d = os.path.join(base, f"m{i}")
                    os.makedirs(d, exist_ok=True)
                    f.write(f"mount --bind {base}/src {d}\n")
            ms = in_namespace("-m", f"sh {script}", args, "\\LogicalDisk(*)\\% Free Space")
            print(f"LogicalDisk % Free Space array, {n} extra mounts: {ms:.2f} ms cpu")
    finally:
        subprocess.run(["rm", "-rf", base])
    for n in args.interfaces:
        with tempfile.NamedTemporaryFile("w", prefix="links-", delete=False) as f:
            for i in range(n // 2):
                f.write(f"link add va{i} type veth peer name vb{i}\n")
            batch = f.name
        try:
            ms = in_namespace("-n", f"ip -batch {batch}", args,
                              "\\Network Interface(*)\\Bytes Total/sec", interval=0)
            print(f"Network Interface Bytes Total/sec array, {n} interfaces: {ms:.2f} ms cpu")
        finally:
            os.unlink(batch)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--probe", default="build/linux/bench/array_probe")
    ap.add_argument("--vantric", default="build/linux/app/vantric")
    ap.add_argument("--rounds", type=int, default=9)
    ap.add_argument("--processes", type=int, nargs="*", default=[])
    ap.add_argument("--interrupts")
    ap.add_argument("--mounts", type=int, nargs="*", default=[])
    ap.add_argument("--interfaces", type=int, nargs="*", default=[])
    ap.add_argument("--check")
    ap.add_argument("--reader", default="build/linux/bench/stat_reader")
    ap.add_argument("--paths", type=int, nargs="*", default=[])
    ap.add_argument("--measure", help=argparse.SUPPRESS)
    ap.add_argument("--interval", type=int, help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.measure:
        print(measure(args.probe, args.measure, args.rounds, args.interval))
        return
    if args.mounts or args.interfaces:
        scaling(args)
        return
    if args.check and args.paths:
        many_paths(args.check, args.paths, args.rounds)
    with sleeping() as reach:
        compare(args)
        for target in args.processes:
            reach(target)
            time.sleep(0.5)
            compare(args)
    if args.interrupts:
        interrupts(args.vantric, args.interrupts)


if __name__ == "__main__":
    main()
