#!/usr/bin/env python3
r"""Whole-process CPU of reading every process's raw array next to its
formatted array, through bench/array_probe, for \Process(*)\Working Set
(one collection) and \Process(*)\% Processor Time (two collections, no
pause, as the formatted rate needs; the raw array also after one).

  bench/raw_vs_formatted.py [--probe PATH] [--rounds N] [--processes N ...]

--processes  process counts to measure at (default 8000); sleeping children
             are started to reach each count (at most 10,000) and killed
             afterwards, as bench/array_vs_ps.py starts them

CPU is the child's user + system time from wait4, the median of
alternating runs. The figures are printed, never judged.
"""
import argparse
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from array_vs_ps import process_count, run, sleeping  # noqa: E402


def compare(probe, rounds):
    cases = [
        ("Working Set", "\\Process(*)\\Working Set", [], []),
        ("% Processor Time", "\\Process(*)\\% Processor Time", ["0"], ["0"]),
        ("% Processor Time, raw after one collection", "\\Process(*)\\% Processor Time", [],
         ["0"]),
    ]
    for name, path, raw_tail, formatted_tail in cases:
        raw, formatted = [], []
        for _ in range(rounds):
            raw.append(run([probe, "--raw", path] + raw_tail)[0])
            formatted.append(run([probe, path] + formatted_tail)[0])
        a, b = statistics.median(raw), statistics.median(formatted)
        print(f"{process_count():6d} processes, {name}: raw {a:7.2f} ms cpu, "
              f"formatted {b:7.2f} ms cpu, ratio {a / b:.2f}")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--probe", default="build/linux/bench/array_probe")
    ap.add_argument("--rounds", type=int, default=9)
    ap.add_argument("--processes", type=int, nargs="*", default=[8000])
    args = ap.parse_args()
    with sleeping() as reach:
        for target in args.processes:
            reach(target)
            time.sleep(0.5)
            compare(args.probe, args.rounds)

if __name__ == "__main__":
    main()
