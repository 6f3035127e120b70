"""What the end-to-end scripts share: how a program of the build is started
(directly, through the wine loader of its bitness, or through the emulator of
another processor), the environment it gets, and the tally of checks."""
import os


class ProgramRunner:
    def __init__(self, platform, workdir, table, emulator=None, keep_locale=False):
        self.platform = platform
        self.emulator = emulator
        # Keep a locale the caller's environment sets, or always set the default.
        self.keep_locale = keep_locale
        self.table = os.path.join(workdir, "counters.tsv")
        with open(self.table, "w", newline="\n") as f:
            f.write(table)
        self.failures = 0
        self.passed = 0

    def command(self, program, args):
        if self.platform == "win32":
            return [self.emulator or "wine", program] + args
        return ([self.emulator] if self.emulator else []) + [program] + args

    def environment(self, env=None, table=True):
        full_env = dict(os.environ)
        full_env.pop("POSIXLY_CORRECT", None)
        locale = "C.UTF-8" if self.platform == "posix" else "en_US.UTF-8"
        if self.keep_locale:
            full_env.setdefault("LC_ALL", locale)
        else:
            full_env["LC_ALL"] = locale
        full_env["WINEDEBUG"] = "-all"
        if table:
            full_env["VANTRIC_SIM_COUNTERS"] = self.table
        full_env.update(env or {})
        return full_env

    def check(self, name, ok, detail=""):
        if ok:
            self.passed += 1
        else:
            self.failures += 1
            print(f"FAIL {name}: {detail}")
