#!/usr/bin/env python3
"""End-to-end tests of check_vantric.

Runs the test build (counters from the table named by VANTRIC_SIM_COUNTERS)
over a table of cases and compares standard output and the exit status byte
for byte; then a few runs of the real program (a real counter, the watchdog,
discovery where the system lacks it).

    run_check_e2e.py --platform posix|win32 --sim PATH --real PATH --version X.Y.Z
"""
import argparse
import os
import pathlib
import random
import re
import resource
import signal
import subprocess
import sys
import tempfile
import time

from e2e_runner import ProgramRunner

# path, add status, value status, value, kind, unit, explanation
TABLE = """\
\\Processor(_Total)\\% Processor Time\t0\t0\t12.3456789\tpercent\t%\tShare of time the processors were busy
\\Processor(0)\\% Processor Time\t0\t0\t10\tpercent\t%\tShare of time the processors were busy
\\Processor(1)\\% Processor Time\t0\t0\t96.5\tpercent\t%\tShare of time the processors were busy
\\Memory\\Available Bytes\t0\t0\t2147483648.5\tgauge\tB\tMemory free for new use
\\Memory\\Pages/sec\t0\t0\t42.25\trate\t\tPages read or written per second
\\System\\System Up Time\t0\t0\t3600.125\telapsed\ts\tTime since start
\\T\\Value\t0\t0\t50\tgauge
\\T\\Huge\t0\t0\t1e20\tgauge
\\T\\Tiny\t0\t0\t-0.0000001\tgauge
\\T\\NewData\t0\t1\t7\tgauge
\\T\\BadData\t0\t0xC0000BBA\t1\tgauge
\\T\\NaN\t0\t0\tnan\tgauge
\\T\\NoCounter\t0xC0000BB9\t0\t0
\\T\\NoInstance\t0x800007D1\t0\t0
\\T\\NoMachine\t0x800007D0\t0\t0
\\T\\BadName\t0xC0000BC0\t0\t0
\\T\\Odd\t0x12345678\t0\t0
\\Process(init)\\Working Set\t0\t0\t1000\tgauge\tB\tBytes of memory in use
\\Process(sshd)\\Working Set\t0\t0\t5000\tgauge\tB\tBytes of memory in use
\\Process(sshd#1)\\Working Set\t0\t0\t3000\tgauge\tB\tBytes of memory in use
"""

CPU = "\\Processor(_Total)\\% Processor Time"
# The system's reasons for a missing file and a missing directory.
NOT_FOUND = {"posix": ("No such file or directory",) * 2, "win32": ("File not found", "Path not found")}

# Instances that start, end and fail between collections (last column: the
# collections a row is in force at), for the wildcard paths read as arrays.
ARRAYS = """\
\\Job(_Total)\\Load\t0\t0\t60\tgauge
\\Job(a)\\Load\t0\t0\t10\tgauge\t\t\t1-2
\\Job(a)\\Load\t0\t0\t40\tgauge\t\t\t3-
\\Job(late)\\Load\t0\t0\t20\tgauge\t\t\t2-
\\Job(gone)\\Load\t0\t0\t30\tgauge\t\t\t1
\\Job(brief)\\Load\t0\t0\t7\tgauge\t\t\t3
\\Job(stuck)\\Load\t0\t0xC0000BBA\t0\tgauge
\\Job(a)\\Level\t0\t0\t5\tgauge
\\Job(a)\\Share\t0\t0\t150\tpercent\t%
\\Gone(x)\\Load\t0\t0\t1\tgauge\t\t\t1
"""


def out(*lines):
    return "".join(l + "\n" for l in lines).encode("latin-1")


def unknown(text):
    return out("VANTRIC UNKNOWN - " + text)


def cases(version, platform):
    """(name, args, env, stdout, exit status)."""
    ws = "\\Process(%s)\\Working Set"
    return [
        ("empty range counts as not given", ["-p", "\\T\\Value", "-w", "", "-c", "40"], {},
         out("VANTRIC CRITICAL - \\T\\Value = 50 | '\\T\\Value'=50;;40"), 2),
        ("empty instance counts as not given", ["-C", "T", "-I", "", "-P", "Value"], {},
         out("VANTRIC OK - \\T\\Value = 50 | '\\T\\Value'=50"), 0),
        ("quotes and backslashes pass whole", ["-p", r'\No"pe\\"x y\C\\'], {},
         unknown(r'\No"pe\\"x y\C\\: no such object'), 3),
        # states and ranges
        ("ok with percent unit", ["-C", "Processor", "-I", "_Total", "-P", "% Processor Time", "-w", "85", "-c", "95"], {},
         out(f"VANTRIC OK - {CPU} = 12.345679% | '{CPU}'=12.345679%;85;95;0;100"), 0),
        ("warning above", ["-p", "\\T\\Value", "-w", "40", "-c", "60"], {},
         out("VANTRIC WARNING - \\T\\Value = 50 | '\\T\\Value'=50;40;60"), 1),
        ("critical above", ["-p", "\\T\\Value", "-w", "20", "-c", "40"], {},
         out("VANTRIC CRITICAL - \\T\\Value = 50 | '\\T\\Value'=50;20;40"), 2),
        ("low is bad", ["-p", "\\T\\Value", "-w", "60:", "-c", "40:"], {},
         out("VANTRIC WARNING - \\T\\Value = 50 | '\\T\\Value'=50;60:;40:"), 1),
        ("inside alerts", ["-p", "\\T\\Value", "-c", "@49.5:50.5"], {},
         out("VANTRIC CRITICAL - \\T\\Value = 50 | '\\T\\Value'=50;;@49.5:50.5"), 2),
        ("end point is inclusive", ["-p", "\\T\\Value", "-w", "~:50", "-c", "50:50"], {},
         out("VANTRIC OK - \\T\\Value = 50 | '\\T\\Value'=50;~:50;50:50"), 0),
        ("a lone warning counts", ["-p", "\\T\\Value", "-w", "10"], {},
         out("VANTRIC WARNING - \\T\\Value = 50 | '\\T\\Value'=50;10"), 1),
        ("beyond 32 bits", ["-C", "Memory", "-P", "Available Bytes", "-w", "3000000000:", "-c", "2147483648.5:"], {},
         out("VANTRIC WARNING - \\Memory\\Available Bytes = 2147483648.5B | '\\Memory\\Available Bytes'=2147483648.5B;3000000000:;2147483648.5:"), 1),
        ("rate has no unit", ["-C", "Memory", "-P", "Pages/sec"], {},
         out("VANTRIC OK - \\Memory\\Pages/sec = 42.25 | '\\Memory\\Pages/sec'=42.25"), 0),
        ("seconds", ["-C", "System", "-P", "System Up Time"], {},
         out("VANTRIC OK - \\System\\System Up Time = 3600.125s | '\\System\\System Up Time'=3600.125s"), 0),
        ("no exponent", ["-p", "\\T\\Huge"], {},
         out("VANTRIC OK - \\T\\Huge = 100000000000000000000 | '\\T\\Huge'=100000000000000000000"), 0),
        ("tiny negative is zero", ["-p", "\\T\\Tiny"], {}, out("VANTRIC OK - \\T\\Tiny = 0 | '\\T\\Tiny'=0"), 0),
        ("new data is a value", ["-p", "\\T\\NewData"], {}, out("VANTRIC OK - \\T\\NewData = 7 | '\\T\\NewData'=7"), 0),
        ("decimal comma locale", ["-p", CPU, "-w", "10.5"], {"LC_ALL": "de_DE.UTF-8"},
         out(f"VANTRIC WARNING - {CPU} = 12.345679% | '{CPU}'=12.345679%;10.5;;0;100"), 1),
        ("label", ["-p", CPU, "-l", "cpu"], {}, out(f"VANTRIC OK - {CPU} = 12.345679% | 'cpu'=12.345679%;;;0;100"), 0),
        ("samples average", ["-p", "\\T\\Value", "-n", "3", "-s", "100"], {},
         out("VANTRIC OK - \\T\\Value = 50 | '\\T\\Value'=50"), 0),
        ("verbose detail", ["-p", "\\Memory\\Pages/sec", "-v"], {},
         out("VANTRIC OK - \\Memory\\Pages/sec = 42.25 | '\\Memory\\Pages/sec'=42.25",
             "\\Memory\\Pages/sec = 42.25 OK [rate: Pages read or written per second]"), 0),
        # several counters
        ("two paths", ["-p", "\\T\\Value", "-p", "\\T\\NewData", "-c", "45"], {},
         out("VANTRIC CRITICAL - 1 of 2 counters not OK: \\T\\Value = 50 (CRITICAL)"
             " | '\\T\\Value'=50;;45 '\\T\\NewData'=7;;45"), 2),
        ("two paths ok", ["-p", "\\T\\Value", "-p", "\\T\\NewData"], {},
         out("VANTRIC OK - \\T\\Value = 50, \\T\\NewData = 7 | '\\T\\Value'=50 '\\T\\NewData'=7"), 0),
        ("one path missing among two", ["-p", "\\T\\Value", "-p", "\\T\\NoCounter"], {},
         out("VANTRIC UNKNOWN - 1 of 2 counters not OK: \\T\\NoCounter: no such counter (UNKNOWN)"
             " | '\\T\\Value'=50"), 3),
        ("wildcard instance", ["-C", "Process", "-I", "*", "-P", "Working Set", "-w", "2000", "-c", "4000", "-l", "ws"], {},
         out("VANTRIC CRITICAL - 2 of 3 counters not OK: " + ws % "sshd" + " = 5000B (CRITICAL), "
             + ws % "sshd#1" + " = 3000B (WARNING) | 'ws_init'=1000B;2000;4000 'ws_sshd'=5000B;2000;4000"
             " 'ws_sshd#1'=3000B;2000;4000"), 2),
        ("wildcard prefix", ["-p", "\\Process(ss*)\\Working Set"], {},
         out("VANTRIC OK - " + ws % "sshd" + " = 5000B, " + ws % "sshd#1" + " = 3000B | '"
             + ws % "sshd" + "'=5000B '" + ws % "sshd#1" + "'=3000B"), 0),
        ("wildcard with _Total", ["-p", "\\Processor(*)\\% Processor Time", "-c", "95"], {},
         out("VANTRIC CRITICAL - 1 of 3 counters not OK: \\Processor(1)\\% Processor Time = 96.5% (CRITICAL)"
             f" | '{CPU}'=12.345679%;;95;0;100 '\\Processor(0)\\% Processor Time'=10%;;95;0;100"
             " '\\Processor(1)\\% Processor Time'=96.5%;;95;0;100"), 2),
        ("wildcard without match", ["-p", "\\Process(nginx*)\\Working Set"], {},
         unknown("\\Process(nginx*)\\Working Set: no match"), 3),
        ("wildcard without match, --missing", ["-p", "\\Process(nginx*)\\Working Set", "--missing=critical"], {},
         out("VANTRIC CRITICAL - \\Process(nginx*)\\Working Set: no match"), 2),
        ("missing instance, --missing", ["-p", "\\T\\NoInstance", "--missing", "warning"], {},
         out("VANTRIC WARNING - \\T\\NoInstance: no such instance"), 1),
        # what went wrong
        ("no such object", ["-C", "Nope", "-P", "X"], {}, unknown("\\Nope\\X: no such object"), 3),
        ("no such counter", ["-p", "\\T\\NoCounter"], {}, unknown("\\T\\NoCounter: no such counter"), 3),
        ("no such instance", ["-p", "\\T\\NoInstance"], {}, unknown("\\T\\NoInstance: no such instance"), 3),
        ("no such computer", ["-p", "\\T\\NoMachine"], {}, unknown("\\T\\NoMachine: no such computer"), 3),
        ("malformed path", ["-p", "\\T\\BadName"], {}, unknown("\\T\\BadName: malformed counter path"), 3),
        ("other status", ["-p", "\\T\\Odd"], {}, unknown("\\T\\Odd: status 0x12345678"), 3),
        ("invalid data", ["-p", "\\T\\BadData"], {}, unknown("\\T\\BadData: data not valid yet"), 3),
        ("not a number", ["-p", "\\T\\NaN"], {}, unknown("\\T\\NaN: the value is not a finite number"), 3),
        ("rate from one sample", ["-C", "Memory", "-P", "Pages/sec", "-s", "0"], {},
         unknown("\\Memory\\Pages/sec: is a rate counter: it needs two samples (-s greater than 0)"), 3),
        ("time share from one sample", ["-p", CPU, "-s", "0"], {},
         unknown(f"{CPU}: is a percent counter: it needs two samples (-s greater than 0)"), 3),
        ("gauge the table serves only after two samples", ["-p", "\\T\\Value", "-s", "0"], {},
         unknown("\\T\\Value: no value from one sample (-s greater than 0)"), 3),
        ("bad warning range", ["-p", "\\T\\Value", "-w", "1,5"], {},
         unknown("bad warning range '1,5': '1,5' is not a decimal number"), 3),
        ("bad critical range", ["-p", "\\T\\Value", "-c", "9:1"], {},
         unknown("bad critical range '9:1': start is greater than end"), 3),
        ("unknown short option", ["-p", "\\T\\Value", "-x"], {}, unknown("unknown option -x"), 3),
        ("unknown long option", ["--frobnicate=1", "-p", "\\T\\Value"], {}, unknown("unknown option --frobnicate"), 3),
        ("missing argument", ["-p", "\\T\\Value", "-w"], {}, unknown("option -w wants an argument"), 3),
        ("missing long argument", ["-p", "\\T\\Value", "--critical"], {}, unknown("option --critical wants an argument"), 3),
        ("unknown option after an operand", ["--list", "System", "--frob"], {}, unknown("unknown option --frob"), 3),
        ("interval below the clock tick", ["-p", CPU, "-s", "99"], {}, unknown("-s wants 0 or at least 100 ms (counters move in clock ticks of 10 to 16 ms), not 99"), 3),
        ("bad interval", ["-p", "\\T\\Value", "-s", "1s"], {}, unknown("-s wants milliseconds from 0 to 3600000, not '1s'"), 3),
        ("bad samples", ["-p", "\\T\\Value", "-n", "0"], {}, unknown("-n wants a count of intervals from 1 to 1000, not '0'"), 3),
        ("bad timeout", ["-p", "\\T\\Value", "-t", "-1"], {}, unknown("-t wants seconds from 1 to 86400, not '-1'"), 3),
        ("bad missing state", ["-p", "\\T\\Value", "--missing=bad"], {},
         unknown("--missing wants OK, WARNING, CRITICAL or UNKNOWN, not 'bad'"), 3),
        ("sampling beyond the timeout", ["-p", "\\T\\Value", "-s", "2000", "-n", "3", "-t", "5"], {},
         unknown("sampling takes 6000 ms; the -t timeout of 5 s must be longer"), 3),
        ("no counter", [], {}, unknown("no counter given (-C and -P, or -p; see --help)"), 3),
        ("object without counter", ["-C", "Memory"], {}, unknown("-C and -P name the counter together"), 3),
        ("both forms", ["-C", "Memory", "-P", "X", "-p", "\\T\\Value"], {}, unknown("give -C/-I/-P or -p, not both"), 3),
        ("not a path", ["-p", "Memory"], {}, unknown("'Memory' is not a counter path like \\Object(Instance)\\Counter"), 3),
        ("stray operand", ["-p", "\\T\\Value", "extra"], {}, unknown("unexpected argument 'extra'"), 3),
        ("version", ["-V"], {}, out(f"check_vantric {version}"), 3),
        ("long version", ["--version", "-p", "x"], {}, out(f"check_vantric {version}"), 3),
        # output formats: JSON keeps the state; OpenMetrics leaves alerting to the server
        ("json", ["-p", "\\T\\Value", "-w", "40", "--format=json"], {},
         out('{"service":"VANTRIC","state":"WARNING","code":1,"summary":"\\\\T\\\\Value = 50",'
             '"counters":[{"path":"\\\\T\\\\Value","object":"T","instance":null,"counter":"Value",'
             '"kind":"gauge","unit":"","value":50,"state":"WARNING","code":1,"warn":"40","crit":null,'
             '"label":"\\\\T\\\\Value"}],"unmatched":[]}'), 1),
        ("openmetrics exits 0 whatever the state", ["-p", "\\T\\Value", "-p", "\\T\\NoCounter", "-c", "1",
                                                    "--format", "openmetrics"], {},
         out("# TYPE vantric_t_value gauge", "# HELP vantric_t_value \\\\T\\\\Value", "vantric_t_value 50",
             "# TYPE vantric_t_no gauge", "# HELP vantric_t_no \\\\T\\\\NoCounter", "# TYPE vantric_up gauge",
             "# HELP vantric_up 1 when the counter at path was read, 0 when it had no value or the path matched nothing",
             'vantric_up{path="\\\\T\\\\Value"} 1', 'vantric_up{path="\\\\T\\\\NoCounter"} 0', "# EOF"), 0),
        ("json expand", ["--expand", "\\Process(s*)\\Working Set", "--format=json"], {},
         out('{"pattern":"\\\\Process(s*)\\\\Working Set","paths":["\\\\Process(sshd)\\\\Working Set",'
             '"\\\\Process(sshd#1)\\\\Working Set"]}'), 0),
        ("no openmetrics list", ["--list", "--format=openmetrics"], {},
         unknown("--list and --expand have no OpenMetrics form (--format=nagios or json)"), 3),
        ("bad format", ["-p", "\\T\\Value", "--format=xml"], {},
         unknown("--format wants nagios, openmetrics or json, not 'xml'"), 3),
        ("textfile with another format", ["--textfile=x.prom", "--format=json", "-p", "\\T\\Value"], {},
         unknown("--textfile writes OpenMetrics: it excludes --format=json"), 3),
        ("interval gauges without openmetrics", ["--interval-gauges", "-p", "\\T\\Value"], {},
         unknown("--interval-gauges shapes OpenMetrics: it wants --format=openmetrics or --textfile"), 3),
        # which ranges apply to which path
        ("a range applies until the next of its letter",
         ["-w", "40", "-p", "\\T\\Value", "-w", "5", "-p", "\\T\\NewData", "-w", "99"], {},
         out("VANTRIC WARNING - 2 of 2 counters not OK: \\T\\Value = 50 (WARNING), \\T\\NewData = 7 (WARNING)"
             " | '\\T\\Value'=50;40 '\\T\\NewData'=7;5"), 1),
        ("ranges after the last path go to paths without their own",
         ["-p", "\\T\\Value", "-w", "60", "-p", "\\T\\NewData", "-w", "5"], {},
         out("VANTRIC WARNING - 1 of 2 counters not OK: \\T\\Value = 50 (WARNING)"
             " | '\\T\\Value'=50;5 '\\T\\NewData'=7;60"), 1),
        ("warning and critical attach apart", ["-w", "40", "-C", "T", "-P", "Value", "-c", "45"], {},
         out("VANTRIC CRITICAL - \\T\\Value = 50 | '\\T\\Value'=50;40;45"), 2),
        ("a replaced range is read too", ["-w", "bad", "-w", "40", "-p", "\\T\\Value"], {},
         unknown("bad warning range 'bad': 'bad' is not a decimal number"), 3),
        # discovery through the table
        ("list objects", ["--list"], {}, out("Processor", "Memory", "System", "T", "Process"), 0),
        ("list one object", ["--list", "Memory"], {},
         out("counter\tAvailable Bytes\tgauge\tB\tMemory free for new use",
             "counter\tPages/sec\trate\t\tPages read or written per second"), 0),
        ("list instances", ["--list", "Process"], {},
         out("counter\tWorking Set\tgauge\tB\tBytes of memory in use",
             "instance\tinit", "instance\tsshd", "instance\tsshd#1"), 0),
        ("list unknown object", ["--list", "Nope"], {}, unknown("Nope: no such object"), 3),
        ("expand", ["--expand", "\\Process(s*)\\Working Set"], {}, out(ws % "sshd", ws % "sshd#1"), 0),
        ("expand without match", ["--expand=\\Process(x*)\\Working Set"], {},
         unknown("\\Process(x*)\\Working Set: no match"), 3),
    ]


# Names that must not split a line or add perfdata (runs: arguments, lines, '|'s); one path twice, two labels.
HOSTILE = "".join(f"\\P({name})\\W\t0\t0\t{i}\tgauge\tB\tx|y\n" for i, name in enumerate(["x|y=9;1", "a\rb", "c\x01d"]))
HOSTILE_RUNS = [(["-p", "\\P(*)\\W", "-v", "-s", "100", "-w", "0", "-p", "\\P(a\rb)\\W"], 5, 1),
                (["--list", "P"], 4, 0), (["--expand", "\\P(*)\\W"], 3, 0), (["-p", "\\N|x=1\\A\rB"], 1, 0)]


def file_cases(work, platform):
    """(name, args, stdout, exit status): argument files and --textfile, files in `work`."""
    def put(name, text):
        with open(os.path.join(work, name), "w", newline="\n") as f:
            f.write(text)
        return os.path.join(work, name)
    good = put("good.args", "-p '\\T\\Value' # the value\n-w 40\n")
    nested = put("nested.args", f"-c 45 @{good}\n")
    none, nodir = os.path.join(work, "none.args"), os.path.join(work, "nodir", "x.prom")
    no_file, no_dir = NOT_FOUND[platform]
    fifo, long_name = os.path.join(work, "fifo.prom"), os.path.join(work, "n" * 250)
    if platform == "posix" and not os.path.exists(fifo):
        os.mkfifo(fifo)
    return [
        ("argument file", ["@" + good, "-c", "45"], out("VANTRIC CRITICAL - \\T\\Value = 50 | '\\T\\Value'=50;40;45"), 2),
        ("argument file naming another", ["@" + nested],
         unknown(f"@{nested}: line 1: an argument file cannot name another (quote '@' to pass it)"), 3),
        ("missing argument file", ["@" + none], unknown(f"@{none}: {no_file}"), 3),
        ("textfile in a missing directory", ["--textfile=" + nodir, "-p", "\\T\\Value"],
         unknown(f"cannot write {nodir}: create: {no_dir}"), 3),
    ] + ([] if platform != "posix" else [
        ("textfile over a FIFO", ["--textfile=" + fifo, "-p", "\\T\\Value"],
         unknown(f"cannot write {fifo}: a FIFO is there, not a regular file"), 3),
        ("textfile of a 250-byte name", ["--textfile=" + long_name, "-p", "\\T\\Value"],
         out(f"VANTRIC OK - wrote 2 series to {long_name}"), 0),
    ])


def textfile_kept(r, program, work):
    """A textfile that cannot be replaced (a directory stands there): UNKNOWN, the old content and
    nothing else in its directory; then one that can: the OpenMetrics text, one status line."""
    where = os.path.join(work, "prom")
    os.makedirs(os.path.join(where, "x.prom"))
    put = os.path.join(where, "x.prom", "old")
    open(put, "w").close()
    p = r.run(program, ["--textfile=" + os.path.join(where, "x.prom"), "-p", "\\T\\Value"])
    kept = p.returncode == 3 and p.stdout.startswith(b"VANTRIC UNKNOWN - cannot write ") and \
        sorted(os.listdir(where)) == ["x.prom"] and os.listdir(os.path.join(where, "x.prom")) == ["old"]
    path = os.path.join(where, "y.prom")
    q = r.run(program, ["--textfile=" + path, "-p", "\\T\\Value", "-c", "1"])
    wrote = (q.returncode == 0 and q.stdout == out(f"VANTRIC OK - wrote 2 series to {path}") and
             open(path, "rb").read() == r.run(program, ["-p", "\\T\\Value", "--format=openmetrics"]).stdout)
    return kept and wrote and sorted(os.listdir(where)) == ["x.prom", "y.prom"], repr((p, q))


def stop_requests(r, program, work):
    """(name, passed, detail): stop requests to a run held by an argument file nobody writes, and at
    random moments of --textfile runs (never a temporary file left); -t there; a file size limit."""
    def stopped(args, env, delay, name, held=None):
        p = subprocess.Popen(r.command(program, args), stdout=subprocess.PIPE, stdin=subprocess.DEVNULL,
                             env=r.environment(env))
        writer = None
        # A run held by the argument file is signalled once it has opened the
        # file (a writer can open a FIFO only then), however slowly it started.
        for _ in range(200 if held else 0):
            try:
                writer = os.open(held, os.O_WRONLY | os.O_NONBLOCK)
                break
            except OSError:
                time.sleep(0.05)
        time.sleep(delay)
        p.send_signal(getattr(signal, name))
        out = p.communicate(timeout=30)[0]
        if writer is not None:
            os.close(writer)
        return p.returncode, out
    fifo, where = os.path.join(work, "held.args"), os.path.join(work, "stopped")
    os.mkfifo(fifo), os.makedirs(where)
    checks = [(name, stopped(["@" + fifo], {}, 0.1, name, fifo) == (3, unknown("ended by " + name)), name)
              for name in ("SIGTERM", "SIGINT", "SIGHUP", "SIGXCPU")]
    start, q = time.monotonic(), r.run(program, ["-t", "2", "@" + fifo])
    checks.append(("-t before argument files", (q.returncode, q.stdout) == (3, unknown("timed out after 2 s"))
                   and time.monotonic() - start < 4, repr(q)))
    table, target = os.path.join(work, "many.tsv"), os.path.join(where, "x.prom")
    with open(table, "w") as f:
        f.writelines(f"\\T(i{i})\\Value\t0\t0\t{i}\tgauge\n" for i in range(1500))
    args, env = ["--textfile=" + target, "-s", "0", "-p", "\\T(*)\\Value"], {"VANTRIC_SIM_COUNTERS": table}
    start, whole = time.monotonic(), r.run(program, args, env)
    seconds, text, seed, left = time.monotonic() - start, open(target, "rb").read(), random.randrange(1 << 30), []
    pick = random.Random(seed)
    for attempt in range(30):
        if os.path.exists(target):
            os.remove(target)
        # Before the handler is in place: no line; once the result is claimed: the result.
        ended = stopped(args, env, pick.uniform(0, seconds * 1.2), "SIGTERM")
        if ended not in ((3, unknown("ended by SIGTERM")), (-signal.SIGTERM, b""), (0, whole.stdout)) or os.listdir(where) not in ([], ["x.prom"]) or \
                (os.path.exists(target) and open(target, "rb").read() != text):
            left.append((attempt, ended, os.listdir(where)))
    checks.append(("SIGTERM at random moments of --textfile", whole.returncode == 0 and not left, f"seed {seed}: {left}"))
    limited = [subprocess.run(r.command(program, a), stdout=o, stdin=subprocess.DEVNULL, env=r.environment(),
                              preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (0, 0)))
               for a, o in ((["--textfile=" + target, "-p", "\\T\\Value"], subprocess.PIPE),
                            (["-p", "\\T\\Value"], tempfile.TemporaryFile()))]
    checks.append(("file size limit", (limited[0].returncode, limited[0].stdout, limited[1].returncode) ==
                   (3, unknown(f"cannot write {target}: write: File too large"), 3), repr(limited)))
    return checks


def array_cases(table):
    """(name, args, env, stdout, exit status, standard error: how often the table was gone to)."""
    env = {"VANTRIC_SIM_COUNTERS": table, "VANTRIC_SIM_TALLY": "1"}
    tally = "vantric-sim: %d adds, %d array adds, %d array reads\n"
    load = "'\\Job(_Total)\\Load'=60 '\\Job(a)\\Load'=%d '\\Job(late)\\Load'=20"
    stuck = "VANTRIC UNKNOWN - 1 of %d counters not OK: \\Job(stuck)\\Load: data not valid yet (UNKNOWN) | "
    return [(name, args, dict(env, **more), out(want), status, (tally % reads).encode())
            for name, args, more, want, status, reads in [
        ("array: started in, ended out, failing reported", ["-p", "\\Job(*)\\Load"], {},
         stuck % 4 + load % 10, 3, (0, 1, 1)),
        ("array: averaged over the rounds present", ["-p", "\\Job(*)\\Load", "-n", "3", "-s", "100"], {},
         stuck % 5 + load % 30 + " '\\Job(brief)\\Load'=7", 3, (0, 1, 3)),
        ("array: every instance ended, --missing", ["-p", "\\Gone(*)\\Load", "--missing=ok"], {},
         "VANTRIC OK - \\Gone(*)\\Load: no match", 0, (0, 1, 1)),
        ("array: '*' in the counter", ["-p", "\\Job(a*)\\L*"], {},
         "VANTRIC OK - \\Job(a)\\Load = 10, \\Job(a)\\Level = 5 | '\\Job(a)\\Load'=10 '\\Job(a)\\Level'=5", 0,
         (0, 2, 2)),
        ("array: --no-cap", ["-p", "\\Job(*)\\Share", "--no-cap"], {},
         "VANTRIC OK - \\Job(a)\\Share = 150% | '\\Job(a)\\Share'=150%;;;0", 0, (0, 1, 1)),
        ("array: capped", ["-p", "\\Job(*)\\Share"], {},
         "VANTRIC OK - \\Job(a)\\Share = 100% | '\\Job(a)\\Share'=100%;;;0;100", 0, (0, 1, 1)),
        ("array: one sample", ["-p", "\\Job(*)\\Share", "-s", "0"], {},
         "VANTRIC UNKNOWN - \\Job(*)\\Share: is a percent counter: it needs two samples (-s greater than 0)", 3,
         (0, 1, 0)),
        ("array: no such counter", ["-p", "\\Job(*)\\Nope"], {},
         "VANTRIC UNKNOWN - \\Job(*)\\Nope: no such counter", 3, (0, 0, 0)),
        ("no arrays: expanded, ended and failing left out", ["-p", "\\Job(*)\\Load"],
         {"VANTRIC_SIM_NO_ARRAYS": "1"}, "VANTRIC OK - \\Job(_Total)\\Load = 60, \\Job(a)\\Load = 10, "
         "\\Job(late)\\Load = 20 | " + load % 10, 0, (6, 0, 0)),
    ]]


def timed_out(r, program):
    if r.platform == "posix":
        env = dict(os.environ, LC_ALL="C.UTF-8", VANTRIC_SIM_COUNTERS=r.table)
        p = subprocess.Popen(r.command(program, ["-p", CPU, "-s", "900", "-t", "1"]), stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, stdin=subprocess.DEVNULL, env=env)
        time.sleep(0.3)
        p.send_signal(signal.SIGSTOP)
        time.sleep(1.5)
        p.send_signal(signal.SIGCONT)
        stdout, stderr = p.communicate(timeout=60)
        status = p.returncode
    else:
        # Under wine the process cannot be held still as a whole: nine pauses
        # of 100 ms and ten collections of 6,000 counters (an argument file:
        # the command line holds 32 KB) take about twice the second.
        many = os.path.join(os.path.dirname(r.table), "many.args")
        with open(many, "w", newline="\n") as f:
            f.write(f"-p '{CPU}'\n" * 6000)
        q = r.run(program, ["@" + many, "-s", "100", "-n", "9", "-t", "1"])
        stdout, stderr, status = q.stdout, q.stderr, q.returncode
    return status == 3 and stdout == unknown("timed out after 1 s"), repr((status, stdout, stderr))


FAULT = rb"VANTRIC UNKNOWN - Exception %s in module \S+ at [0-9A-F]{8}\. %s\n"
# 180 KB of perfdata from a command line within Windows' 32 KB.
LONG = ["-p", "\\Process(*)\\Working Set"] * 2 + ["-l", "x" * 30000, "-s", "100", "-t", "3"]


def endings(platform):
    """Every other ending, always status 3: (name, real program?, args, env, standard output, held
    still for seconds, output pattern (None: a part of the result, no time-out line), most seconds)."""
    faults = [
        ("access violation", "access", b"EAccessViolation", rb"Access violation at address .*"),
        ("division by zero", "divzero", b"EDivByZero", rb"Division by zero\."),
        ("stack overflow", "stack", b"EStackOverflow", rb"Stack overflow\."),
    ]
    rows = [(name, False, ["-p", "\\T\\Value"], {"VANTRIC_SIM_FAULT": fault}, "pipe", 0,
             FAULT % (kind, text), 30) for name, fault, kind, text in faults]
    rows.append(("time-out while writing", False, LONG, {}, "pipe", 0, None, 8))
    if platform != "posix":
        return rows
    return rows + [
        ("fault, closed pipe", False, ["-p", "\\T\\Value"], {"VANTRIC_SIM_FAULT": "access"}, "closed", 0, b"", 30),
        ("time-out, closed pipe", True, ["-p", CPU, "-s", "900", "-t", "1"], {}, "closed", 1.5, b"", 10),
        ("full non-blocking pipe", True, ["-p", CPU, "-s", "900", "-t", "1"], {}, "full", 0, b"", 4),
        ("full non-blocking pipe, option error", False, ["-x"], {}, "full", 0, b"", 13),
        # Room for a part of the status line only: the time-out line whole instead.
        ("4096 bytes free in a non-blocking pipe", False, ["-p", "\\T\\Value", "-l", "x" * 5000, "-s", "100", "-t", "1"], {},
         "room", 0, re.escape(unknown("timed out after 1 s")), 4),
    ]


def run_ending(r, program, args, env, stdout, hold, most):
    """Status, output and seconds of a run into a pipe read only at its end, closed, or full."""
    read_end, write_end = os.pipe()
    if stdout == "closed":
        os.close(read_end)
    if stdout in ("full", "room"):
        os.set_blocking(write_end, False)
        os.write(write_end, b"." * (1 << 20))  # as much as the pipe takes
    if stdout == "room":
        os.read(read_end, 4096)
    start = time.monotonic()
    p = subprocess.Popen(r.command(program, args), stdout=write_end, stderr=subprocess.DEVNULL,
                         stdin=subprocess.DEVNULL, env=r.environment(env))
    os.close(write_end)
    if hold:
        # Held still past its time: the time-out comes first whatever the load.
        time.sleep(0.3)
        p.send_signal(signal.SIGSTOP)
        time.sleep(hold)
        p.send_signal(signal.SIGCONT)
    try:
        status = p.wait(timeout=most + 5)
    except subprocess.TimeoutExpired:
        p.kill()
        status = "still running"
    seconds = time.monotonic() - start
    data = b""
    if stdout != "closed":
        with os.fdopen(read_end, "rb") as f:
            data = f.read().lstrip(b".")
    return status, data, seconds


class Runner(ProgramRunner):
    def __init__(self, platform, workdir, emulator=None):
        super().__init__(platform, workdir, TABLE, emulator)

    def run(self, program, args, env=None, timeout=120):
        return subprocess.run(self.command(program, args), stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, stdin=subprocess.DEVNULL,
                              env=self.environment(env), timeout=timeout)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--platform", choices=["posix", "win32"], required=True)
    ap.add_argument("--sim", required=True)
    ap.add_argument("--real", required=True)
    ap.add_argument("--version", required=True)
    # The wine loader of the Windows build's bitness, or qemu for another
    # processor's Linux build.
    ap.add_argument("--emulator")
    # Endings left out by name: the sanitizer build stops a provoked fault
    # before it happens, with its own report and status.
    ap.add_argument("--skip", action="append", default=[], metavar="ENDING")
    a = ap.parse_args()
    known = {row[0] for row in endings(a.platform)}
    if not set(a.skip) <= known:
        ap.error(f"no such ending: {sorted(set(a.skip) - known)}")
    with tempfile.TemporaryDirectory() as work:
        r = Runner(a.platform, work, a.emulator)
        arrays = os.path.join(work, "arrays.tsv")
        with open(arrays, "w", newline="\n") as f:
            f.write(ARRAYS)
        for name, args, env, want, status, *err in cases(a.version, a.platform) + array_cases(arrays):
            p = r.run(a.sim, args, env)
            tally = p.stderr.replace(b"\r\n", b"\n")
            r.check(name, p.stdout == want and p.returncode == status and err in ([], [tally]),
                    f"status {p.returncode} (want {status})\n  got  {p.stdout!r}\n  want {want!r}"
                    f"\n  stderr {p.stderr[:300]!r}")

        hostile = pathlib.Path(work, "hostile.tsv")
        hostile.write_bytes(HOSTILE.encode("latin-1"))
        for args, lines, bars in HOSTILE_RUNS:
            p = r.run(a.sim, args, {"VANTRIC_SIM_COUNTERS": str(hostile)})
            r.check(f"hostile names {args!r}", (p.stdout.count(b"\n"), p.stdout.count(b"|")) == (lines, bars) and
                    not re.search(rb"[\0-\x08\x0b-\x1f\x7f]|'\\P\(a_b\)\\W'=.*'\\P\(a_b\)\\W'=", p.stdout), repr(p.stdout))


        for name, args, want, status in file_cases(work, a.platform):
            p = r.run(a.sim, args)
            r.check(name, p.stdout == want and p.returncode == status, repr((p.returncode, p.stdout, want)))
        r.check("textfile replaced or kept whole", *textfile_kept(r, a.sim, work))

        p = r.run(a.sim, ["--help"])
        r.check("help", p.returncode == 3 and p.stdout.startswith(b"check_vantric " + a.version.encode())
                and b"\n  check_vantric --expand PATH\n" in p.stdout and p.stderr == b"", repr(p))

        if a.platform == "posix":
            # Standard output that cannot take the line: UNKNOWN by status, nothing on stderr.
            with open("/dev/full", "wb") as full:
                q = subprocess.run(r.command(a.sim, ["-p", "\\T\\Value", "-c", "1"]), stdout=full,
                                   stderr=subprocess.PIPE,
                                   env=dict(os.environ, VANTRIC_SIM_COUNTERS=r.table))
            r.check("output failure", q.returncode == 3 and q.stderr == b"", repr(q))
            for name, passed, detail in stop_requests(r, a.sim, work):
                r.check(name, passed, detail)

        for name, real, args, env, stdout, hold, want, most in endings(a.platform):
            if name in a.skip:
                continue
            status, data, seconds = run_ending(r, a.real if real else a.sim, args, env, stdout, hold,
                                               most)
            fits = (re.fullmatch(want, data) is not None if want is not None
                    else b"timed out" not in data and data.startswith(b"VANTRIC "))
            r.check(name, status == 3 and fits and seconds < most, repr((status, data[:300], seconds)))

        # The real program on a real counter: one line, a state 0..2 and its perfdata.
        p = r.run(a.real, ["-p", CPU, "-w", "1000", "-s", "200"])
        r.check("real counter", p.returncode == 0 and re.fullmatch(
            rb"VANTRIC OK - \\Processor\(_Total\)\\% Processor Time = [0-9]+(\.[0-9]{1,6})?%? \| "
            rb"'\\Processor\(_Total\)\\% Processor Time'=[0-9]+(\.[0-9]{1,6})?%?;1000(;;0;100)?\n",
            p.stdout), repr(p))
        # The watchdog: the run is held still past its time, so the time-out
        # comes first whatever the machine's load.
        r.check("timeout", *timed_out(r, a.real))

        if a.platform == "win32":
            # Wine provides no enumeration or expansion: a clean UNKNOWN, no crash.
            for args, what in (
                    (["--list"], "object enumeration (PdhEnumObjectsA)"),
                    (["--list", "Processor"], "counter enumeration (PdhEnumObjectItemsA)"),
                    (["--expand", "\\Processor(*)\\% Processor Time"],
                     "wildcard expansion (PdhExpandWildCardPathA)"),
                    (["-C", "Processor", "-I", "*", "-P", "% Processor Time"],
                     "wildcard expansion (PdhExpandWildCardPathA)")):
                p = r.run(a.real, args)
                r.check("wine: " + " ".join(args), p.returncode == 3 and
                        p.stdout == unknown("this system does not provide " + what), repr(p))
        else:
            p = r.run(a.real, ["-p", "\\Memory\\Available Bytes", "-s", "0"])
            r.check("real gauge from one sample", p.returncode == 0 and re.fullmatch(
                rb"VANTRIC OK - \\Memory\\Available Bytes = [0-9]+B? \| '\\Memory\\Available Bytes'=[0-9]+B?\n",
                p.stdout), repr(p))
            p = r.run(a.real, ["--list"])
            r.check("real --list", p.returncode == 0 and b"Processor\n" in p.stdout, repr(p))
            p = r.run(a.real, ["--expand", "\\Processor(*)\\% Processor Time"])
            r.check("real --expand", p.returncode == 0 and
                    b"\\Processor(_Total)\\% Processor Time\n" in p.stdout, repr(p))

        print(f"{r.passed} passed, {r.failures} failed")
        return 1 if r.failures else 0


if __name__ == "__main__":
    sys.exit(main())
