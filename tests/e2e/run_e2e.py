#!/usr/bin/env python3
"""End-to-end tests of vantric.

Runs the test build (counters answered from a table named by
VANTRIC_SIM_COUNTERS) over a table of cases and compares standard output,
standard error and the exit status byte for byte; then a few runs of the real
program against the system's counters.

    run_e2e.py --platform posix|win32 [--emulator PROGRAM] --sim PATH --real PATH
                [--skip CASE]...

--emulator names what runs the programs: the wine loader of the Windows
build's bitness (default: wine), or qemu for another processor's Linux build.
--skip leaves out a case by name: the sanitizer build skips the faults
provoked on purpose, which its own checks stop before they happen.
"""
import argparse
import os
import re
import resource
import subprocess
import sys
import tempfile
import time

from e2e_runner import ProgramRunner

USAGE = (
    b"Vantric usage is vantric.exe -C Counter [-I Instance] -P Parameter -f format "
    b"-c critical threshold -w warning threshold -h help (this screen)\r\n"
    b"\r\n"
    b"Counter is in a Performance Counter object\r\n"
    b"[Instance] is required for counters that have instances\r\n"
    b"Parameter is the Performance Counter parameter\r\n"
    b"\r\n"
    b"format is a standard sprintf style format\r\n"
    b'     e.g. "The disk has %f%% free space"\r\n'
    b"\r\n"
    b"critical and warning thresholds are any integers.\r\n"
)

# The counter table every case runs against.
TABLE = """\
# path\tadd status\tvalue status\tvalue
\\Processor(_Total)\\% Processor Time\t0\t0\t12.3456789
\\Memory\\Available Bytes\t0\t0\t123456789
\\T\\Half\t0\t0\t0.5
\\T\\Ninety\t0\t0\t90
\\T\\Eighty\t0\t0\t80
\\T\\Below80\t0\t0\t79.99999
\\T\\Round80\t0\t0\t79.999996
\\T\\Twenty\t0\t0\t20
\\T\\Ten\t0\t0\t10
\\T\\Above20\t0\t0\t20.00001
\\T\\Disk\t0\t0\t12.34568
\\T\\NewData\t0\t1\t42.5
\\T\\BadData\t0\t0xC0000BBA\t42.5
\\T\\Status2\t0\t2\t42.5
\\T\\NotValidated\t0x800007D3\t0\t0
\\T\\NoInstance\t0x800007D1\t0\t0
\\T\\Inf\t0\t0\tinf
\\T\\NegInf\t0\t0\t-inf
\\T\\NaN\t0\t0\tnan
\\T\\Huge\t0\t0\t1.7976931348623157e308
\\T\\Big\t0\t0\t1234567890123456
\\T\\Negative\t0\t0\t-3.5
\\T\\Hex\t0\t0\t0x1.8p1
"""

REPORT = re.compile(
    rb"\AException (?P<kind>E[A-Za-z]+) in module (?P<module>[^\r\n]+) at (?P<offset>[0-9A-F]{8})\.\r\n"
    rb"(?P<message>[^\r\n]*)\r\n\r\n\Z"
)


class Runner(ProgramRunner):
    def __init__(self, platform, sim, real, workdir, emulator=None, skip=()):
        super().__init__(platform, workdir, TABLE, emulator, keep_locale=True)
        self.skip = set(skip)
        self.skipped = set()
        self.sim = sim
        self.real = real

    def run(self, args, env=None, program=None, stdout=subprocess.PIPE, table=True, timeout=120):
        return subprocess.run(self.command(program or self.sim, args), stdout=stdout,
                              stdin=subprocess.DEVNULL, stderr=subprocess.PIPE,
                              env=self.environment(env, table), timeout=timeout)

    def wanted(self, name):
        if name in self.skip:
            self.skipped.add(name)
            return False
        return True


def expect_report(out, kind, message, module_pattern=rb"vantric-sim(\.exe)?"):
    m = REPORT.match(out)
    if not m:
        return f"no report in {out!r}"
    if m.group("kind") != kind.encode():
        return f"kind {m.group('kind')!r} != {kind!r}"
    if not re.fullmatch(module_pattern, m.group("module")):
        return f"module {m.group('module')!r}"
    if isinstance(message, bytes):
        if m.group("message") != message:
            return f"message {m.group('message')!r} != {message!r}"
    elif not re.fullmatch(message, m.group("message")):
        return f"message {m.group('message')!r} !~ {message.pattern!r}"
    return None


def line(text):
    return text.encode("latin-1") + b"\r\n"


def case_table(r):
    """(name, args, env, stdout, exit status): output and status, no report."""
    nf = lambda path: line(f"Counter {path} not found.")
    return [
        ("no arguments", [], {}, USAGE, 0),
        ("only -h", ["-h"], {}, USAGE, 0),
        ("counter without parameter", ["-C", "Memory"], {}, USAGE, 0),
        ("parameter without counter", ["-P", "X", "-c", "abc", "-w", "1"], {}, USAGE, 0),
        ("value with a space in the parameter", ["-C", "Memory", "-P", "Available Bytes"], {},
         line("123456789.00000"), 0),
        ("instance path", ["-C", "Processor", "-I", "_Total", "-P", "% Processor Time"], {},
         line("12.34568"), 0),
        ("new data is a value", ["-C", "T", "-P", "NewData"], {}, line("42.50000"), 0),
        ("negative value", ["-C", "T", "-P", "Negative"], {}, line("-3.50000"), 0),
        ("hexadecimal table value", ["-C", "T", "-P", "Hex"], {}, line("3.00000"), 0),
        ("general form for large values", ["-C", "T", "-P", "Big"], {},
         line("1.23456789012346E15"), 0),
        ("unknown object", ["-C", "NoSuchObject", "-P", "X"], {}, nf("\\NoSuchObject\\X"), 0),
        ("unknown object, low values bad", ["-C", "NoSuchObject", "-P", "X", "-c", "10", "-w", "20"],
         {}, nf("\\NoSuchObject\\X"), 2),
        ("unknown object, high values bad", ["-C", "NoSuchObject", "-P", "X", "-c", "90", "-w", "80"],
         {}, nf("\\NoSuchObject\\X"), 0),
        ("not validated", ["-C", "T", "-P", "NotValidated"], {}, nf("\\T\\NotValidated"), 0),
        ("no instance", ["-C", "T", "-P", "NoInstance"], {}, nf("\\T\\NoInstance"), 0),
        ("invalid data", ["-C", "T", "-P", "BadData"], {}, nf("\\T\\BadData"), 0),
        ("value status 2", ["-C", "T", "-P", "Status2", "-c", "1", "-w", "2"], {},
         nf("\\T\\Status2"), 2),
        ("instance on a missing counter", ["-C", "T", "-I", "x y", "-P", "Z"], {},
         nf("\\T(x y)\\Z"), 0),
        # thresholds, both directions, inclusive bounds
        ("equal thresholds", ["-C", "T", "-P", "Half", "-c", "5", "-w", "5"], {}, line("0.50000"), 3),
        ("equal thresholds, not found", ["-C", "No", "-P", "X", "-c", "5", "-w", "5"], {},
         nf("\\No\\X"), 3),
        ("high: at critical", ["-C", "T", "-P", "Ninety", "-c", "90", "-w", "80"], {},
         line("90.00000"), 2),
        ("high: at warning", ["-C", "T", "-P", "Eighty", "-c", "90", "-w", "80"], {},
         line("80.00000"), 1),
        ("high: below warning", ["-C", "T", "-P", "Below80", "-c", "90", "-w", "80"], {},
         line("79.99999"), 0),
        ("high: rounded up to warning", ["-C", "T", "-P", "Round80", "-c", "90", "-w", "80"], {},
         line("80.00000"), 1),
        ("low: at warning", ["-C", "T", "-P", "Twenty", "-c", "10", "-w", "20"], {},
         line("20.00000"), 1),
        ("low: at critical", ["-C", "T", "-P", "Ten", "-c", "10", "-w", "20"], {},
         line("10.00000"), 2),
        ("low: above warning", ["-C", "T", "-P", "Above20", "-c", "10", "-w", "20"], {},
         line("20.00001"), 0),
        ("negative thresholds", ["-C", "T", "-P", "Negative", "-c", "-3", "-w", "-4"], {},
         line("-3.50000"), 1),
        ("hexadecimal thresholds", ["-C", "T", "-P", "Ninety", "-c", "$5A", "-w", "0x50"], {},
         line("90.00000"), 2),
        ("only one threshold", ["-C", "T", "-P", "Ninety", "-c", "10"], {}, line("90.00000"), 0),
        ("later option wins", ["-C", "X", "-C", "T", "-P", "Ninety", "-c", "1", "-c", "95", "-w", "80"],
         {}, line("90.00000"), 1),
        # formats
        ("format", ["-C", "T", "-P", "Disk", "-f", "The disk has %f%% free space"], {},
         line("The disk has 12.35% free space"), 0),
        ("format width", ["-C", "T", "-P", "Disk", "-f", "[%8.3f]"], {}, line("[  12.346]"), 0),
        ("format exponent", ["-C", "T", "-P", "Half", "-f", "%e"], {},
         line("5.00000000000000E-001"), 0),
        ("format index twice", ["-C", "T", "-P", "Half", "-f", "%0:f %0:.1f"], {}, line("0.50 0.5"), 0),
        ("format without directive", ["-C", "T", "-P", "Half", "-f", "50%"], {}, line("50"), 0),
        ("format with thresholds", ["-C", "T", "-P", "Ninety", "-f", "v=%.0f", "-c", "90", "-w", "80"],
         {}, line("v=90"), 2),
        ("format is not used for not found", ["-C", "No", "-P", "X", "-f", "%d"], {}, nf("\\No\\X"), 0),
        # option handling through the program
        ("cluster with argument", ["-hCT", "-PHalf"], {}, line("0.50000"), 0),
        ("permuted operands", ["op1", "-C", "T", "op2", "-P", "Half", "op3"], {}, line("0.50000"), 0),
        ("double dash ends options", ["--", "-C", "T", "-P", "Half"], {}, USAGE, 0),
        ("argument taken whatever it looks like", ["-C", "T", "-P", "Half", "-c", "-w", "5"], {},
         line("0.50000"), 0),
        ("POSIXLY_CORRECT stops at an operand", ["x", "-C", "T", "-P", "Half"],
         {"POSIXLY_CORRECT": "1"}, USAGE, 0),
        ("empty POSIXLY_CORRECT counts as absent", ["x", "-C", "T", "-P", "Half"],
         {"POSIXLY_CORRECT": ""}, line("0.50000"), 0),
        ("missing argument of the last option", ["-C", "T", "-P", "Half", "-f"], {},
         line("0.50000"), 0),
    ]


def run_cases(r):
    for name, args, env, out, status in case_table(r):
        p = r.run(args, env)
        r.check(name, p.stdout == out and p.returncode == status and p.stderr == b"",
                f"status {p.returncode} (want {status}) stdout {p.stdout!r} (want {out!r}) "
                f"stderr {p.stderr!r}")


def run_diagnostics(r):
    prog = rb"[^\r\n]*vantric-sim(\.exe)?"
    cases = [
        ("invalid option", ["-x", "-C", "T", "-P", "Half"], {},
         prog + rb": invalid option -- x\r\n0\.50000\r\n"),
        ("illegal option under POSIXLY_CORRECT", ["-x", "-C", "T", "-P", "Half"],
         {"POSIXLY_CORRECT": "yes"}, prog + rb": illegal option -- x\r\n0\.50000\r\n"),
        ("colon is no option", ["-:", "-C", "T", "-P", "Half"], {},
         prog + rb": invalid option -- :\r\n0\.50000\r\n"),
        ("long option is a cluster", ["--foo", "-C", "T", "-P", "Half"], {},
         prog + rb": invalid option -- -\r\noo\r\n"),  # then 'f' takes "oo" as the format
    ]
    for name, args, env, pattern in cases:
        p = r.run(args, env)
        r.check(name, re.fullmatch(pattern, p.stdout) is not None and p.returncode == 0,
                f"status {p.returncode} stdout {p.stdout!r}")
    # element 0 is the absolute path of the program, whatever it was started as
    p = r.run(["-x"])
    first = p.stdout.split(b":", 1)[0] if r.platform == "posix" else p.stdout.split(b": ", 1)[0]
    if r.platform == "posix":
        r.check("element 0 is the absolute path", first == os.path.realpath(r.sim).encode(),
                repr(first))
    else:
        r.check("element 0 is the module path", re.fullmatch(rb"[A-Za-z]:\\.*vantric-sim\.exe", first)
                is not None, repr(first))


def run_failures(r):
    cases = [
        ("threshold not an integer", ["-C", "T", "-P", "Half", "-c", "abc", "-w", "5"], {},
         line("0.50000"), "EConvertError", b"'abc' is not a valid integer value."),
        ("warning not an integer", ["-C", "T", "-P", "Half", "-c", "5", "-w", "1.5"], {},
         line("0.50000"), "EConvertError", b"'1.5' is not a valid integer value."),
        ("threshold out of range", ["-C", "No", "-P", "X", "-c", "2147483648", "-w", "5"], {},
         line("Counter \\No\\X not found."), "EConvertError",
         b"'2147483648' is not a valid integer value."),
        ("format that does not fit", ["-C", "T", "-P", "Half", "-f", "%d"], {}, b"",
         "EConvertError", b"Format '%d' invalid or incompatible with argument."),
        ("format without argument", ["-C", "T", "-P", "Half", "-f", "%f of %f"], {}, b"",
         "EConvertError", b"No argument for format '%f'."),
        ("format index past the list", ["-C", "T", "-P", "Half", "-f", "%1:f", "-c", "1", "-w", "2"],
         {}, b"", "EConvertError", b"No argument for format '%1:f'."),
        ("infinite sample", ["-C", "T", "-P", "Inf"], {}, b"", "EConvertError",
         b"'INF' is not a valid floating point value."),
        ("negative infinite sample", ["-C", "T", "-P", "NegInf"], {}, b"", "EConvertError",
         b"'-INF' is not a valid floating point value."),
        ("NaN sample", ["-C", "T", "-P", "NaN"], {}, b"", "EConvertError",
         b"'NAN' is not a valid floating point value."),
        ("value beyond the double range", ["-C", "T", "-P", "Huge"], {}, b"", "EOverflow",
         b"Floating point overflow."),
        ("access violation", ["-C", "T", "-P", "Half"], {"VANTRIC_SIM_FAULT": "access"}, b"",
         "EAccessViolation", re.compile(rb"Access violation at address [0-9A-F]{8,16}( in module '[^']+')?\. "
                                        rb"Write of address 0{8,16}\.")),
        ("integer division by zero", ["-C", "T", "-P", "Half"], {"VANTRIC_SIM_FAULT": "divzero"}, b"",
         "EDivByZero", b"Division by zero."),
        ("stack overflow", ["-C", "T", "-P", "Half"], {"VANTRIC_SIM_FAULT": "stack"}, b"",
         "EStackOverflow", b"Stack overflow."),
    ]
    for name, args, env, out, kind, message in cases:
        if not r.wanted(name):
            continue
        p = r.run(args, env)
        problem = expect_report(p.stderr, kind, message)
        r.check(name, problem is None and p.stdout == out and p.returncode == 1,
                f"status {p.returncode} stdout {p.stdout!r} stderr {p.stderr!r}: {problem}")
    # the same failure raised twice reports the same location: one raise point
    a = REPORT.match(r.run(["-C", "T", "-P", "Half", "-c", "abc", "-w", "1"]).stderr)
    b = REPORT.match(r.run(["-C", "T", "-P", "Half", "-f", "%d"]).stderr)
    r.check("conversion errors share one location", a and b and a.group("offset") == b.group("offset"),
            f"{a and a.group(0)!r} {b and b.group(0)!r}")


def run_output_faults(r):
    """Standard output that cannot be written."""
    short = ["-C", "T", "-P", "Half", "-c", "5", "-w", "0"]   # one short line, status 1
    long_ = []                                                # the usage text, > 128 bytes
    if r.platform == "posix":
        p = r.run(short, stdout=subprocess.DEVNULL)
        r.check("devnull", p.returncode == 1 and p.stderr == b"", repr(p.stderr))
        # closed standard output: the first line's check reports I/O error 105
        p = subprocess.run(["sh", "-c", 'exec "$0" "$@" >&-'] + r.command(r.sim, short), stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE,
                           env=dict(os.environ, VANTRIC_SIM_COUNTERS=r.table, LC_ALL="C.UTF-8"))
        problem = expect_report(p.stderr, "EInOutError", b"I/O error 105.")
        r.check("closed stdout", problem is None and p.returncode == 1, f"{p.returncode} {problem}")
        with open("/dev/full", "wb") as full:
            # a character device: the line goes out at its line end and fails there
            p = r.run(short, stdout=full)
            problem = expect_report(p.stderr, "EInOutError", b"I/O error 28.")
            r.check("full device, short output", problem is None and p.returncode == 1,
                    f"{p.returncode} {problem}")
            p = r.run(long_, stdout=full)
            problem = expect_report(p.stderr, "EInOutError", b"I/O error 28.")
            r.check("full device, long output", problem is None and p.returncode == 1,
                    f"{p.returncode} {problem}")
        for name, args, want_status, want in [("short", short, 1, None),
                                              ("long", long_, 1, b"I/O error 32.")]:
            rd, wr = os.pipe()
            os.close(rd)   # the reader has gone before the program writes
            p = r.run(args, stdout=wr)
            os.close(wr)
            problem = expect_report(p.stderr, "EInOutError", want) if want else (
                None if p.stderr == b"" else repr(p.stderr))
            r.check(f"broken pipe, {name} output", problem is None and p.returncode == want_status,
                    f"{p.returncode} {problem}")
        # a file at its size limit (ulimit -f 0): the write fails with EFBIG, like the broken pipe above
        for name, args, want in [("short", short, None), ("long", long_, b"I/O error 27.")]:
            p = subprocess.run(r.command(r.sim, args), stdout=tempfile.TemporaryFile(), stderr=subprocess.PIPE,
                               env=r.environment(), preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (0, 0)))
            problem = expect_report(p.stderr, "EInOutError", want) if want else p.stderr or None
            r.check(f"file size limit, {name} output", problem is None and p.returncode == 1, f"{p.returncode} {problem}")
        # a failure report after buffered output that cannot be written:
        # the pending output failure is what gets reported
        rd, wr = os.pipe()
        os.close(rd)
        p = r.run(["-C", "T", "-P", "Half", "-c", "x", "-w", "1"], stdout=wr)
        os.close(wr)
        problem = expect_report(p.stderr, "EInOutError", b"I/O error 32.")
        r.check("report after failed flush", problem is None and p.returncode == 1,
                f"{p.returncode} {problem}")
    # pipe and file: every byte once, in order
    with tempfile.TemporaryFile() as f:
        p = r.run(long_, stdout=f)
        f.seek(0)
        r.check("usage to a file", f.read() == USAGE and p.returncode == 0, "")


def run_locale(r):
    if r.platform == "posix":
        have = subprocess.run(["locale", "-a"], stdout=subprocess.PIPE).stdout.lower()
        if b"de_de.utf8" not in have:
            print("SKIP locale: de_DE.UTF-8 not installed")
            return
    p = r.run(["-C", "T", "-P", "Half"], {"LC_ALL": "de_DE.UTF-8", "LANG": "de_DE.UTF-8"})
    r.check("German decimal separator", p.stdout == line("0,50000") and p.returncode == 0, repr(p.stdout))
    p = r.run(["-C", "T", "-P", "Disk", "-f", "%n|%0:.1f"], {"LC_ALL": "de_DE.UTF-8", "LANG": "de_DE.UTF-8"})
    r.check("German format", p.stdout == line("12,35|12,3"), repr(p.stdout))


def run_real(r):
    # the real program on the system's counters
    p = r.run(["-C", "Processor", "-I", "_Total", "-P", "% Processor Time"], program=r.real,
              table=False)
    ok = p.returncode == 0 and re.fullmatch(rb"\d+\.\d{5}\r\n", p.stdout or b"-") is not None
    if ok:
        ok = 0.0 <= float(p.stdout) <= 100.0
    r.check("real processor total", ok, f"{p.returncode} {p.stdout!r} {p.stderr!r}")
    start = time.monotonic()
    p = r.run(["-C", "NoSuchObject", "-P", "X"], program=r.real, table=False)
    elapsed = time.monotonic() - start
    r.check("real unknown object", p.stdout == line("Counter \\NoSuchObject\\X not found.")
            and p.returncode == 0, repr(p.stdout))
    if r.platform == "posix":
        # no one-second pause when the counter cannot be added
        r.check("unknown object answers at once", elapsed < 0.9, f"{elapsed:.3f}s")
        p = r.run(["-C", "Memory", "-P", "Available Bytes", "-c", "0", "-w", "1"], program=r.real,
                  table=False)
        r.check("real available memory", p.returncode == 0 and re.fullmatch(rb"\d+\.00000\r\n", p.stdout)
                is not None, repr(p.stdout))
        # the test build's table is never read by the shipped program
        p = r.run(["-C", "T", "-P", "Half"], program=r.real)
        r.check("shipped program ignores the table", p.stdout == line("Counter \\T\\Half not found."),
                repr(p.stdout))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--platform", choices=["posix", "win32"], required=True)
    ap.add_argument("--sim", required=True)
    ap.add_argument("--real", required=True)
    ap.add_argument("--emulator", help="wine loader (win32) or emulator of another processor (posix)")
    ap.add_argument("--skip", action="append", default=[], metavar="CASE")
    args = ap.parse_args()
    with tempfile.TemporaryDirectory() as workdir:
        r = Runner(args.platform, args.sim, args.real, workdir, args.emulator, args.skip)
        for group in (run_cases, run_diagnostics, run_failures, run_output_faults, run_locale, run_real):
            group(r)
    r.check("every skipped case exists", r.skipped == r.skip, f"unknown: {sorted(r.skip - r.skipped)}")
    print(f"e2e: {r.passed} passed, {r.failures} failed" + (f", {len(r.skipped)} skipped" if r.skipped else ""))
    return 1 if r.failures else 0


if __name__ == "__main__":
    sys.exit(main())
