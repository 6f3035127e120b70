#!/usr/bin/env python3
"""Runs the test build under shrinking address-space limits (ulimit -v).

Below some limit the loader cannot even map the C library; just above it
the program starts but runs out of memory somewhere in start-up, in the
argument vector, in the format expansion. Wherever that happens the run must
end through the out-of-memory path: the runtime error 203 line before the
failure family is installed, the EOutOfMemory report after. Never an abort,
a signal or a core. The monitoring-plugin program ends every such run with
status 3 and one UNKNOWN line on standard output instead.

    out_of_memory_sweep.py --program PATH [--check-program PATH]
"""
import argparse
import ctypes
import os
import re
import resource
import shutil
import subprocess
import sys
import tempfile

TABLE = "\\T\\Half\t0\t0\t0.5\n" + "".join(
    "\\Process(p%d)\\Working Set\t0\t0\t%d\tgauge\tB\n" % (i, i) for i in range(40))
STEP_KB = 4
WINDOW_KB = 640  # below the smallest limit a run succeeds in

RUNTIME_ERROR_203 = re.compile(rb"^(.*\r\n)?Runtime error 203 at [0-9A-F]{8}([0-9A-F]{8})?\r\n$", re.S)
OUT_OF_MEMORY_REPORT = re.compile(
    rb"^Exception EOutOfMemory in module vantric-sim at [0-9A-F]{8}\.\r\nOut of memory\.\r\n\r\n$")
# The loader gives up before the program runs: nothing of ours to judge.
LOADER_FAILURE = re.compile(rb"error while loading shared libraries|cannot allocate TLS", re.I)

CASES = [
    # name, arguments, status of a run with enough memory
    ("usage", [], 0),
    ("long format", ["-C", "T", "-P", "Half", "-f", "%0:f " * 20000], 0),
    ("many arguments", ["-C", "T", "-P", "Half"] + ["operand%d" % i for i in range(3000)], 0),
]
CHECK_CASES = [
    ("check a wildcard", ["-p", "\\Process(*)\\Working Set", "-s", "100"], 0),
    ("check 300 paths", ["-s", "100"] + ["-p", "\\T\\Half"] * 300, 0),
]
UNKNOWN_LINE = re.compile(rb"^VANTRIC UNKNOWN - [^\n]*\n$")


ADDR_NO_RANDOMIZE = 0x0040000
libc = ctypes.CDLL(None, use_errno=True)


def run(program, args, env, limit_kb):
    # The layout is fixed, as under the debugger, so that a crash seen here
    # is the one the debugger is shown.
    def limit():
        libc.personality(ADDR_NO_RANDOMIZE)
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


# A statically linked program has no loader to refuse it: the C library's own
# start-up, before main, crashes when its first allocation fails. That is
# the static counterpart of the loader's refusal, and only a debugger can
# tell it apart from a crash of ours: the fault must lie under the C
# library's initialisation, with no frame of the program's main above it.
# Lower still the kernel cannot finish mapping the program and kills it
# before its first instruction.
NEVER_STARTED = b"During startup program terminated with signal"
PRE_MAIN_FRAMES = re.compile(rb"in (__libc_init_first|_dl_non_dynamic_init|__libc_setup_tls) ")


def crashed_before_main(program, args, env, limit_kb):
    gdb = shutil.which("gdb")
    if gdb is None:
        return False
    trace = subprocess.run(
        [gdb, "-nx", "-batch", "-ex", "unset environment LINES", "-ex", "unset environment COLUMNS",
         "-ex", "set exec-wrapper prlimit --as=%d" % (limit_kb * 1024),
         "-ex", "run", "-ex", "bt", "--args", program] + args,
        env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
        timeout=120).stdout
    if NEVER_STARTED in trace:
        return True
    return (b"received signal" in trace and PRE_MAIN_FRAMES.search(trace) is not None
            and re.search(rb" in main \(", trace) is None)


def judge(result, rerun_under_debugger, check):
    """None when the run ended acceptably, else what was wrong."""
    status = result.returncode
    if status < 0:
        if result.stdout == b"" and result.stderr == b"" and rerun_under_debugger():
            return None
        return "killed by signal %d" % -status
    if LOADER_FAILURE.search(result.stderr):
        return None
    if check:
        return None if result.stderr == b"" and (status == 0 or status == 3 and UNKNOWN_LINE.match(
            result.stdout)) else "status %d without one UNKNOWN line" % status
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
    parser.add_argument("--check-program")
    options = parser.parse_args()
    runs = [(options.program, name, args, status) for name, args, status in CASES]
    if options.check_program:
        runs += [(options.check_program, name, args, status) for name, args, status in CHECK_CASES]
    failures = 0
    reached_out_of_memory = False
    with tempfile.TemporaryDirectory() as workdir:
        table = os.path.join(workdir, "counters.tsv")
        with open(table, "w") as f:
            f.write(TABLE)
        env = dict(os.environ, VANTRIC_SIM_COUNTERS=table, LC_ALL="C")
        for program, name, args, status in runs:
            check = program == options.check_program
            top = smallest_working_limit(program, args, env, status)
            endings = {}
            for limit_kb in range(top - WINDOW_KB, top + STEP_KB, STEP_KB):
                result = run(program, args, env, limit_kb)
                problem = judge(result, lambda: crashed_before_main(program, args, env, limit_kb),
                                check)
                if problem is not None:
                    failures += 1
                    print("FAIL %s at %d KB: %s\n  out %r\n  err %r" %
                          (name, limit_kb, problem, result.stdout[-200:], result.stderr[-200:]))
                endings[result.returncode] = endings.get(result.returncode, 0) + 1
            print("%s: limits %d..%d KB, endings by status %s" %
                  (name, top - WINDOW_KB, top, dict(sorted(endings.items()))))
            if set(endings) == {status}:
                failures += 1
                print("FAIL %s: the window never reached a failing start" % name)
            reached_out_of_memory |= bool(set(endings) & ({3} if check else {1, 203}))
    # Some case must have run out of memory in the program itself, or the
    # sweep proved nothing.
    if not reached_out_of_memory:
        failures += 1
        print("FAIL: no run ran out of memory")
    if failures:
        sys.exit("%d failed runs" % failures)


if __name__ == "__main__":
    main()
