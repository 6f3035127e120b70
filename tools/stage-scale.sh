#!/usr/bin/env bash
# Growth guard: the whole check_vantric process at n and 4n instances, and at
# n and 4n -p paths, in one run, so the machine's speed cancels out. Fails
# when the child's CPU time (user + system) grows more than 6 times: a step
# that is quadratic in the instances or the paths shows long before it
# would in the field. Prints every ratio.
#   tools/stage-scale.sh [BUILD_DIR]     (default build/linux)
# Instances come from the table backend (check_vantric-sim), half of them
# sharing one name ("svc", "svc#1", ...) and half with names of their own;
# paths also go through the Linux layer (cheap gauges of /proc/meminfo and
# /proc/stat, many times each).
# Both sizes stay in one tier of the memory system (16,000 instances of the
# table backend are some 30 MB): from 8,000 to 32,000 the larger run leaves
# the processor's last cache and pays some 25 % more per instance for the
# same instructions, which is the machine, not a step of the check. Each
# size takes the fastest of five alternating runs, and a case is measured
# again (three attempts) before it fails.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build/linux}" && pwd)
sim="$build/app/check_vantric-sim"
real="$build/app/check_vantric"
[ -x "$sim" ] && [ -x "$real" ] || { echo "stage-scale: build check_vantric first" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

python3 - "$sim" "$real" "$tmp" <<'PY'
import os
import resource
import subprocess
import sys

sim, real, tmp = sys.argv[1:4]
LIMIT = 6.0
ROUNDS = 5
ATTEMPTS = 3


def cpu_ms(argv, env):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    done = subprocess.run(argv, env=env, capture_output=True)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if done.returncode not in (0, 1, 2) or done.stderr:
        # A quadratic step at 4n often ends in the timeout: that line says so.
        said = (done.stderr or done.stdout).decode(errors="replace")[:300].splitlines()
        sys.exit(f"stage-scale: {argv[0]} ended {done.returncode}: {said[0] if said else ''}")
    return ((after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)) * 1000.0


def table(name, rows):
    path = os.path.join(tmp, name)
    with open(path, "w") as f:
        f.writelines(rows)
    return path


def processes(n):
    def name(i):
        return f"p{i}" if i % 2 else "svc" + (f"#{i // 2}" if i // 2 else "")
    rows = (f"\\Process({name(i)})\\Working Set\t0\t0\t{4096 * (i + 1)}\tgauge\tB\n"
            for i in range(n))
    return {"VANTRIC_SIM_COUNTERS": table(f"processes{n}.tsv", rows)}, []


def gauges(n):
    rows = (f"\\Gauge({i})\\Value\t0\t0\t{i}\tgauge\t\n" for i in range(n))
    args = table(f"gauges{n}.args", (f"-p '\\Gauge({i})\\Value'\n" for i in range(n)))
    return {"VANTRIC_SIM_COUNTERS": table(f"gauges{n}.tsv", rows)}, ["@" + args]


def linux_paths(n):
    paths = ["\\Memory\\Available Bytes", "\\Memory\\Cache Bytes", "\\System\\Processes",
             "\\System\\Threads"]
    args = table(f"linux{n}.args", (f"-p '{paths[i % len(paths)]}'\n" for i in range(n)))
    return {}, ["@" + args]


WILDCARD = ["-C", "Process", "-I", "*", "-P", "Working Set", "-s", "0"]
CASES = [
    ("Process(*) Working Set, nagios", sim, processes, 4000, WILDCARD),
    ("Process(*) Working Set, -l label", sim, processes, 4000, WILDCARD + ["-l", "ws"]),
    ("Process(*) Working Set, openmetrics", sim, processes, 4000,
     WILDCARD + ["--format=openmetrics"]),
    ("Process(*) Working Set, json", sim, processes, 4000, WILDCARD + ["--format=json"]),
    ("-p paths of gauges, table", sim, gauges, 2500, ["-w", "5:"]),
    ("-p paths of gauges, Linux layer", real, linux_paths, 2500, []),
]

def ratio_of(runs, n):
    cpu = {n: [], 4 * n: []}
    for _ in range(ROUNDS):
        for size in (n, 4 * n):
            env, argv = runs[size]
            cpu[size].append(cpu_ms(argv, env))
    small, large = (max(min(cpu[s]), 1.0) for s in (n, 4 * n))
    return small, large, large / small


failed = False
for title, program, make, n, extra in CASES:
    runs = {}
    for size in (n, 4 * n):
        env_add, args = make(size)
        runs[size] = (dict(os.environ, **env_add), [program] + args + extra)
    # A quadratic step is over the limit at every attempt; a busy moment of
    # the machine seldom twice in a row.
    for attempt in range(1, ATTEMPTS + 1):
        small, large, ratio = ratio_of(runs, n)
        if ratio <= LIMIT:
            break
    verdict = "ok" if ratio <= LIMIT else f"FAIL (more than {LIMIT:g}x in {ATTEMPTS} attempts)"
    again = f" (attempt {attempt})" if attempt > 1 and ratio <= LIMIT else ""
    print(f"{title}: {n} -> {4 * n}: {small:.0f} ms -> {large:.0f} ms cpu, "
          f"{ratio:.2f}x {verdict}{again}")
    failed = failed or ratio > LIMIT
sys.exit(1 if failed else 0)
PY
