#!/usr/bin/env python3
"""Whole-process cost of a check judged since its last run.

    bench/since_last_timing.py [BUILD_DIR] [runs]      (default build/linux, 20)

check_vantric --since-last -p '\\Processor(_Total)\\% Processor Time' with its
state file present (one run first writes it; 150 ms between runs keeps every
window over 100 ms, so each run pairs and none pauses): median and worst wall
and CPU time (targets 5 ms wall, 3 ms CPU). Then the table-backed test build
on the same path (a raw series in a table of its own, which never pauses),
for the cost of the state file alone. CPU time is the child's user plus
system time from wait4.
"""
import os
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_timing import run  # noqa: E402

build = sys.argv[1] if len(sys.argv) > 1 else "build/linux"
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 20
CPU = "\\Processor(_Total)\\% Processor Time"


def measure(name, program, env=None):
    with tempfile.TemporaryDirectory() as states:
        os.chmod(states, 0o700)
        args = ["--since-last", "--state-dir=" + states, "-p", CPU]
        run(program, args, env)
        walls, cpus = [], []
        for _ in range(runs):
            time.sleep(0.15)
            wall, cpu, code = run(program, args, env)
            walls.append(wall)
            cpus.append(cpu)
        print(f"{name}: wall median {statistics.median(walls):.2f} ms (max {max(walls):.2f}), "
              f"CPU median {statistics.median(cpus):.2f} ms (max {max(cpus):.2f}), exit {code}")


measure("check_vantric --since-last", os.path.join(build, "app", "check_vantric"))
with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False) as table:
    table.write(CPU + "\t0\t0\t0\tpercent\t%\t\t\t0x21510500\t10000000\t100000000\t4000000"
                "\t100000000\t10000000\n")
measure("check_vantric-sim --since-last (table)", os.path.join(build, "app", "check_vantric-sim"),
        {"VANTRIC_SIM_COUNTERS": table.name})
os.unlink(table.name)
