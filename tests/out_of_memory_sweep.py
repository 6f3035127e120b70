#!/usr/bin/env python3
"""Runs the test build under shrinking address-space limits (ulimit -v).

Below some limit the loader cannot even map the C library; just above it
the program starts but runs out of memory somewhere in start-up, in the
argument vector, in the format expansion. Wherever that happens the run must
end through the out-of-memory path: the runtime error 203 line before the
failure family is installed, the EOutOfMemory report after. Never an abort,
a signal or a core.

    out_of_memory_sweep.py --program PATH
"""
import argparse
import os
import re
import resource
import subprocess
import sys
import tempfile

TABLE = "\\T\\Half\t0\t0\t0.5\n"
STEP_KB = 4
WINDOW_KB = 640  # below the smallest limit a run succeeds in

RUNTIME_ERROR_203 = re.compile(rb"^(.*\r\n)?Runtime error 203 at [0-9A-F]{8}([0-9A-F]{8})?\r\n$", re.S)
OUT_OF_MEMORY_REPORT = re.compile(
    rb"^Exception EOutOfMemory in module vantric-sim at [0-9A-F]{8}\.\r\nOut of memory\.\r\n\r\n$")
# The loader gives up before the program runs: nothing of ours to judge.
LOADER_FAILURE = re.compile(rb"error while loading shared libraries|cannot allocate TLS")

CASES = [
    # name, arguments, status of a run with enough memory
    ("usage", [], 0),
    ("long format", ["-C", "T", "-P", "Half", "-f", "%0:f " * 20000], 0),
    ("many arguments", ["-C", "T", "-P", "Half"] + ["operand%d" % i for i in range(3000)], 0),
]


def run(program, args, env, limit_kb):
    def limit():
        resource.setrlimit(resource.RLIMIT_AS, (limit_kb * 1024, limit_kb * 1024))
        resource.setrlimit(resource.RLIMIT_CORE, (0, 0))

    return subprocess.run([program] + args, env=env, preexec_fn=limit, stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=60)


def smallest_working_limit(program, args, env, status):
    low, high = 1024, 1024 * 1024
    if run(program, args, env, high).returncode != status:
        sys.exit("the program fails even with %d KB" % high)
    while high - low > STEP_KB:
        middle = (low + high) // 2
        if run(program, args, env, middle).returncode == status:
            high = middle
        else:
            low = middle
    return high


def judge(result):
    """None when the run ended acceptably, else what was wrong."""
    status = result.returncode
    if status < 0:
        return "killed by signal %d" % -status
    if LOADER_FAILURE.search(result.stderr):
        return None
    if status == 203:
        return None if RUNTIME_ERROR_203.match(result.stdout) and result.stderr == b"" else "bad 203 line"
    if status == 1:
        return None if OUT_OF_MEMORY_REPORT.match(result.stderr) else "status 1 without the report"
    if status == 0:
        return None
    return "status %d" % status


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    options = parser.parse_args()
    failures = 0
    with tempfile.TemporaryDirectory() as workdir:
        table = os.path.join(workdir, "counters.tsv")
        with open(table, "w") as f:
            f.write(TABLE)
        env = dict(os.environ, VANTRIC_SIM_COUNTERS=table, LC_ALL="C")
        for name, args, status in CASES:
            top = smallest_working_limit(options.program, args, env, status)
            endings = {}
            for limit_kb in range(top - WINDOW_KB, top + STEP_KB, STEP_KB):
                result = run(options.program, args, env, limit_kb)
                problem = judge(result)
                if problem is not None:
                    failures += 1
                    print("FAIL %s at %d KB: %s\n  out %r\n  err %r" %
                          (name, limit_kb, problem, result.stdout[-200:], result.stderr[-200:]))
                endings[result.returncode] = endings.get(result.returncode, 0) + 1
            print("%s: limits %d..%d KB, endings by status %s" %
                  (name, top - WINDOW_KB, top, dict(sorted(endings.items()))))
            # The window must have reached the start-up failures, or it
            # proved nothing.
            if not (set(endings) & {1, 203}):
                failures += 1
                print("FAIL %s: no run ran out of memory" % name)
    if failures:
        sys.exit("%d failed runs" % failures)


if __name__ == "__main__":
    main()
