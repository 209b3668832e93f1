#!/usr/bin/env python3
"""Whole runs of reg7140 on scenario machines, small changes to the sample machine (README,
"Scenarios"): what it printed and left behind is checked on a temporary copy of the machine
(backend posix) or with the Windows build on a Wine prefix that the scenarios share one after
another (backend wine). The POSIX backend also runs the failure sweeps (README, "Reliability").
  run_scenarios.py posix|wine PROGRAM SCENARIO...
  run_scenarios.py posix PROGRAM io-errors|crashes KIND [SCENARIO, or its name] | durability | concurrency |
                   cut-registries
  run_scenarios.py wine PROGRAM setup SOURCE CMAKE | command-lines CHECK | cleanup"""
import contextlib, glob, os, random, re, shlex, shutil, subprocess, sys, tempfile  # noqa: E401
from concurrent.futures import ThreadPoolExecutor

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLE, CLEAN, REG = os.path.join(HERE, "..", "..", "sample"), os.path.join(HERE, "clean_run"), "WINDOWS/system.reg"
SETTINGS = dict(args="", exit="0", version="win95", windir="{root}/WINDOWS", argv0="", machine="", move="", remove="",
                mtime="", readonly="", changes="", writable="", rerun="no", backends="posix,wine")
DRIVERS = ("disk/zvnd32.sys", "WINDOWS/system/zvnd32.sys")  # on the source disk, installed
VERSION_KEY = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion"
VERSIONS = {"win95": "4.00.950", "win98": "4.10.1998", "nt40": "4.0", "win2k": "5.0"}
DETAIL = re.compile(r"reg7140: Errorcode -?\d+ returned from .* on line \d+")
# The copy that the INF job had nothing to insert into may stay; so may a killed run's temporary file.
SCRATCH, KILL_LEFTOVER = re.compile(r"WINDOWS/inf/netzor\.new$", re.I), re.compile(r"WINDOWS/(system/)?\.(system\.reg|zvnd32\.sys)\.[A-Za-z0-9]{6}$", re.I)


def split(text): return [item.strip() for item in text.split(",") if item.strip()]
def read(*parts): return open(os.path.join(*parts), "rb").read() if os.path.isfile(os.path.join(*parts)) else b""
def unescape(text): return re.sub(r"\\(.)", r"\1", text)
def quote(text): return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'
def skip(why): return print("skipped: " + why) or 77  # CTest's SKIP_RETURN_CODE


def read_settings(directory):
    settings, stdout = dict(SETTINGS), ""
    for line in read(directory, "scenario.txt").decode("latin-1").splitlines():
        key, _, value = line.partition("=")
        if key == "stdout":  # a line of the output at level 9, or @FILE: the lines of FILE here
            stdout += read(HERE, value[1:]).decode("latin-1") if value[:1] == "@" else value + "\n"
        elif line[:1] not in ("", "#"):
            settings[key] = value if key in SETTINGS else sys.exit(f"{directory}/scenario.txt: unknown setting {line!r}")
    return settings, stdout


def at_level(detailed, level):
    """Reports lose their detail line at levels 1 to 8 and print nothing at 0; the usage text
    prints at every level."""
    return detailed if level == 9 else re.sub(rf"(?m)^{DETAIL.pattern}\n" + r"[^\n]*\n" * (level == 0), "", detailed)


# --- registry files: a reader and writer of their own, not the program's --------------------

def load(text, keys, wide=False):
    """Applies REGEDIT lines to {lower key: [key, class, {lower name: (name, type, bytes)},
    written]}, implied parent keys included, text as the ANSI bytes a program reads; [-KEY]
    removes a key and its subkeys, "name"=- a value. ValueError for a line it cannot read."""
    key = None
    for line in re.sub(r"\\\r?\n[ \t]*", "", text).replace("\r\n", "\n").split("\n"):
        line, value = line.strip(), re.fullmatch(r'(@|"((?:[^"\\]|\\.)*)")=(.*)', line.strip())
        name = value and unescape(value[2] or "")
        if line.startswith("[-") and line.endswith("]"):
            key, gone = None, line[2:-1].lower()
            for k in [k for k in keys if (k + "\\").startswith(gone + "\\")]: del keys[k]
        elif line.startswith("[") and line.endswith("]"):
            parts = line[1:-1].split("\\")
            for i in range(len(parts)): keys.setdefault("\\".join(parts[:i + 1]).lower(), ["\\".join(parts[:i + 1]), None, {}, False])
            keys[(key := line[1:-1].lower())][3] = True
        elif key and re.fullmatch(r';class="(.*)"', line): keys[key][1] = unescape(line[8:-1])
        elif key and value and value[3] == "-": keys[key][2].pop(name.lower(), None)
        elif key and value: keys[key][2][name.lower()] = (name, *decode(value[3], wide))
        elif line and not line.startswith(";"): raise ValueError(f"bad line {line!r}")
    return keys


def decode(data, wide):
    if len(data) > 1 and data[0] == data[-1] == '"': return 1, unescape(data[1:-1]).encode("latin-1") + b"\0"
    if data.startswith("dword:"): return 4, int(data[6:], 16).to_bytes(4, "little")
    if not (m := re.fullmatch(r"hex(?:\(([0-9a-fA-F]+)\))?:(.*)", data)): raise ValueError(f"bad data {data!r}")
    kind, raw = int(m[1] or "3", 16), bytes(int(b, 16) for b in m[2].split(",") if b.strip())
    # UTF-16LE text in a REGEDIT5 file
    return kind, raw.decode("utf-16-le").encode("latin-1", "replace") if wide and kind in (1, 2, 7) and len(raw) % 2 == 0 else raw


def dump(keys):
    """A REGEDIT4 file of the keys that were written, not those only implied."""
    def data(kind, raw): return quote(raw[:-1].decode("latin-1")) if kind == 1 and re.fullmatch(rb"[^\0\r\n]*\0", raw) else ("hex:" if kind == 3 else f"hex({kind:x}):") + ",\\\r\n  ".join(",".join(f"{b:02x}" for b in raw[i:i + 24]) for i in range(0, len(raw), 24))
    return "REGEDIT4\r\n\r\n" + "".join(f"[{path}]\r\n" + (f";class={quote(klass)}\r\n" if klass is not None else "") + "".join(
        f"{quote(name) if name else '@'}={data(*value)}\r\n" for name, *value in values.values()) + "\r\n"
        for path, klass, values, written in keys.values() if written)


def registry(raw):
    """The keys of a registry file; one that cannot be read must stay exactly as it was."""
    head, _, rest = ((raw[2:].decode("utf-16-le") if raw[:2] == b"\xff\xfe" else raw.decode("latin-1")) or "REGEDIT4\n").partition("\n")
    try:
        if head.strip() in ("REGEDIT4", "Windows Registry Editor Version 5.00"): return load(rest, {}, head.strip() != "REGEDIT4")
    except ValueError: pass
    return {"(unreadable)": ["(unreadable)", None, {"": ("", 3, raw)}, True]}


def flat(keys):
    """A registry as {key: its class, key and value name: the value}, to compare like files."""
    return {key: f"a key of class {klass!r}" for key, (_, klass, _, _) in keys.items()} | {
        f"{key} value {name!r}": f"{v[0]!r} type {v[1]} [{v[2].hex(' ')}]" for key, (_, _, values, _) in keys.items() for name, v in values.items()}


def differences(expected, actual):
    """What differs, each from the first character or byte that does."""
    return [f"{key}: at {(at := len(os.path.commonprefix([e, a])) if e and a else 0)}, expected {e and e[at:at + 80]!r}, got {a and a[at:at + 80]!r}"
            for key in sorted(set(expected) | set(actual)) if (e := expected.get(key)) != (a := actual.get(key))]


# --- machines and runs -----------------------------------------------------------------------

def read_tree(top, prefix=""): return {prefix + os.path.relpath(os.path.join(base, name), top): read(base, name) for base, _, names in os.walk(top) for name in names}


# `rel` as spelled in `files`, matched regardless of letter case as on a FAT disk
def find(files, rel): return next((r for r in files if r.lower() == rel.lower()), rel)


def patch(files, diff):
    """Applies `diff -U0` output to the file of {path: bytes} that its +++ line names."""
    if not diff: return None
    name = re.search(rb"^\+\+\+ (\S+)", diff, re.M)[1].decode()
    old, new, at = re.findall(rb"[^\n]*\n|[^\n]+$", files.get(name, b"")), [], 0
    for start, count, body in re.findall(rb"^@@ -(\d+)(?:,(\d+))? .*\n((?:[-+\\].*\n)*)", diff, re.M):
        new, at = new + old[at:int(start) - (count != b"0")], int(start) - (count != b"0")
        for i, line in enumerate(lines := re.findall(rb".*\n", body)):
            if line[:1] == b"-" and old[at].rstrip(b"\n") != line[1:-1]: sys.exit(f"{name}: line {at + 1} is not as the diff has it")
            at, new = at + (line[:1] == b"-"), new + [line[1:]] * (line[:1] == b"+")
            if line[:1] == b"\\" and lines[i - 1][:1] == b"+": new[-1] = new[-1][:-1]  # no newline at end of file
    files[name] = b"".join(new + old[at:])
    return name


def prepare(backend, directory, settings, root):
    """The sample machine with the scenario's changes in place (a system.reg of its own stands as
    it is), with its times and read-only files; returns what the run should leave."""
    keys = load(f"[-{VERSION_KEY}]", registry((files := read_tree(SAMPLE))[REG]))
    for old, new in (pair.split(">") for pair in split(settings["move"])): files[new] = files.pop(old)
    for rel in split(settings["remove"]): del files[rel]
    overlay = os.path.join(HERE, settings["machine"]) if settings["machine"] else directory
    patch(files, read(overlay, "machine.diff"))
    load(read(overlay, "machine.reg").decode("latin-1"), keys)
    if (version := settings["version"]) in ("nt40", "win2k"):
        load(f'[{VERSION_KEY.replace("Windows", "Windows NT")}]\n"CurrentVersion"="{VERSIONS[version]}"', keys)
    elif version != "none": load(f'[{VERSION_KEY}]\n"VersionNumber"="{VERSIONS.get(version, version)}"', keys)
    files[REG] = read(overlay, "system.reg") or dump(keys).encode("latin-1")
    backend.prepare(root, files, settings)
    for rel, seconds in (pair.split("=") for pair in split(f"{DRIVERS[0]}=857000000,{DRIVERS[1]}=830000000," + settings["mtime"])):
        if rel in files: os.utime(backend.path(rel), (int(seconds), int(seconds)))
    for rel in split(settings["readonly"]): os.chmod(backend.path(rel), os.stat(backend.path(rel)).st_mode & ~0o222)
    expected, keys = backend.files(), registry(files[REG])
    for change in split(settings["changes"]):
        fragment, name = read(CLEAN, change + ".reg"), patch(clean := read_tree(SAMPLE), read(CLEAN, change + ".diff"))
        if not (fragment or name or change == "driver"): sys.exit(f"{directory}: no change {change!r} in clean_run/")
        load(fragment.decode("latin-1"), keys)
        if name: expected[find(expected, name)] = clean[name]
        if change == "driver": expected[find(expected, DRIVERS[1])] = expected[DRIVERS[0]]  # with its write time
    expected["driver time"] = backend.time(DRIVERS[0] if "driver" in settings["changes"] else find(expected, DRIVERS[1]))
    patch(expected, read(directory, "expect.diff"))
    return dict(expected, **flat(backend.view(load(read(directory, "expect.reg").decode("latin-1"), keys))))


@contextlib.contextmanager
def machine(backend, directory=SAMPLE, settings=SETTINGS):
    with tempfile.TemporaryDirectory(prefix="reg7140-scenario-") as root: yield prepare(backend, directory, settings, root)


def run_scenario(directory, backend):
    """True when the scenario passed, False when it failed, None when it is not for the backend."""
    (settings, stdout), name, failures = read_settings(directory), os.path.basename(os.path.normpath(directory)), []
    if backend.name not in split(settings["backends"]): return print(f"SKIP {name}: not for the {backend.name} backend")
    for level in ["0", "1", "9"] if "{level}" in settings["args"] else [""]:
        with machine(backend, directory, settings) as expected:
            (status, out), after = backend.run(settings, args := shlex.split(settings["args"].replace("{level}", level))), backend.state()
            # The registry file is compared by content; a second run keeps its bytes too.
            expected.update({REG: after.get(REG), "output": backend.output(at_level(stdout, int(level or 9))), "exit": settings["exit"]})
            problems = differences(expected, dict(after, output=out, exit=str(status)))
            # The owner's write bit stands for the read-only attribute, as on every backend.
            problems += [f"{rel} should exist and not be read-only" for rel in split(settings["writable"]) if not (os.path.isfile(p := backend.path(rel)) and os.stat(p).st_mode & 0o200)]
            # A second run changes nothing.
            problems += ["second run: " + p for p in (differences(after, backend.state()) if settings["rerun"] == "yes" and backend.run(settings, args) else [])]
            failures += [f"{name}{' at level ' + level if level else ''}: {p}" for p in problems]
    print("".join(f"FAIL {failure}\n" for failure in failures) + ("FAILED " if failures else "ok ") + name)
    return not failures


class Posix:
    name, program_file, tops = "posix", "disk/reg7140", [""]
    view = output = staticmethod(lambda unchanged: unchanged)

    def __init__(self, program): self.program = os.path.abspath(program)
    def path(self, rel): return os.path.join(self.root, rel)
    def registry(self): return registry(read(self.path(REG)))
    def time(self, rel): return str(int(os.stat(self.path(rel)).st_mtime)) if os.path.exists(self.path(rel)) else None

    def prepare(self, root, files, settings):
        self.root = root
        for rel, data in dict(files, **{self.program_file: read(self.program)}).items():
            os.makedirs(os.path.dirname(self.path(rel)), exist_ok=True)
            open(self.path(rel), "wb").write(data)
        os.chmod(self.path(self.program_file), 0o755)

    def files(self): return {rel: data for top in self.tops for rel, data in read_tree(self.path(top), top).items() if not SCRATCH.search(rel) and rel != self.program_file}

    # Every file and value, and the installed driver's last-write time.
    def state(self): return dict(files := self.files(), **flat(self.registry()), **{"driver time": self.time(find(files, DRIVERS[1]))})

    def run(self, settings, args, strace=()):
        """Exit status (negative for a signal) and output of one run, under strace with its options."""
        env = {k: v for k, v in os.environ.items() if k.upper() != "WINDIR"} | ({} if settings["windir"] == "unset" else {"WINDIR": settings["windir"].replace("{root}", self.root)})
        argv0 = (settings["argv0"] or self.path(self.program_file)).replace("{root}", self.root).replace("{empty}", "")
        result = subprocess.run([*(["strace", "-f", "-qq", *strace, "--"] if strace else []), argv0, *args], env=env,
                                executable=None if strace else self.path(self.program_file), cwd=self.root, capture_output=True, timeout=300)
        return result.returncode, result.stdout.decode("latin-1")


class Wine(Posix):
    """The 32-bit program in the 32-bit prefix wine-prefix beside its build directory. WINDOWS/ is
    C:\\windows and disk/ C:\\disk; the keys under SUBTREES are imported with reg and only they are
    compared (without class strings: an export has none); the version becomes Wine's Windows
    version. The program's Windows directory is Wine's own C:\\windows; the host's WINDIR stays out."""
    name, program_file, tops = "wine", "disk/reg7140.exe", ["WINDOWS/inf/", "WINDOWS/system/", "disk/"]
    SUBTREES = ("hkey_local_machine\\enum\\pcmcia", "hkey_local_machine\\system\\currentcontrolset\\services\\class")

    def __init__(self, program):
        super().__init__(program)
        prefix = os.path.join(os.path.dirname(os.path.dirname(self.program)), "wine-prefix")
        self.env = {k: v for k, v in os.environ.items() if k.upper() != "WINDIR"} | dict(WINEARCH="win32", WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=", WINEPREFIX=prefix)
        self.no_32_bit = os.path.join(prefix, "cannot-run-32-bit-programs")  # left by the set-up

    def path(self, rel): return os.path.join(self.env["WINEPREFIX"], "drive_c", rel.replace("WINDOWS", "windows", 1))
    def host(self, name): return "Z:" + os.path.join(self.root, name).replace("/", "\\")  # Z: is the host's /
    def output(self, text): return text.replace("\n", "\r\n")  # the program writes each line feed as CR LF

    def wine(self, *command, err=False, **env):
        """Exit status and output of a Wine command. Output goes to a file, never a pipe: the first
        program of a fresh server starts Wine's background processes, which inherit its handles and
        would hold a pipe open."""
        with tempfile.TemporaryFile() as out:
            status = subprocess.run(command, env=dict(self.env, **env), stdin=subprocess.DEVNULL, stdout=out, stderr=out if err else subprocess.DEVNULL,
                                    timeout=300, cwd=self.env["WINEPREFIX"] if os.path.isdir(self.env["WINEPREFIX"]) else None).returncode
            out.seek(0)
            return status, out.read().decode("latin-1")

    def reg(self, *commands):
        """Runs Wine's registry tool; now and then it fails without a word, so each command is tried
        up to three times (the program's runs never are)."""
        for command in commands:
            if all(self.wine("wine", "reg", *command)[0] for attempt in range(3)): sys.exit(f"reg {command} failed three times")

    def prepare(self, root, files, settings):
        """Takes out what the scenario before left: its files, the program's scratch, temporary and
        backup files (netzor.new, netzor.t00, zvnd32.b00...); Wine keeps nothing in C:\\windows\\system."""
        if settings["version"] not in VERSIONS or settings["windir"] != SETTINGS["windir"]: sys.exit("Wine has no such version, and WINDIR is its own")
        shutil.rmtree(self.path("disk/"), ignore_errors=True)
        for host in glob.glob(self.path("WINDOWS/inf/netzor.*")) + glob.glob(self.path("WINDOWS/system/*")): os.remove(host)
        super().prepare(root, {rel: data for rel, data in files.items() if rel != REG}, settings)
        open(os.path.join(root, "import.reg"), "w", encoding="latin-1", newline="").write(
            "REGEDIT4\r\n\r\n" + "".join(f"[-{top}]\r\n\r\n" for top in self.SUBTREES) + '[HKEY_LOCAL_MACHINE\\Enum]\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine]\r\n'
            f'"Version"="{settings["version"]}"\r\n\r\n' + dump(self.view(registry(files[REG])))[12:])
        self.reg(["import", self.host("import.reg")])

    def registry(self):
        # The parent of PCMCIA always exists: a failed export is never a missing key.
        self.reg(*(["export", key, self.host(f"export{i}.reg"), "/y"] for i, key in enumerate(("HKEY_LOCAL_MACHINE\\Enum", self.SUBTREES[1]))))
        return self.view({**registry(read(self.root, "export0.reg")), **registry(read(self.root, "export1.reg"))})

    def view(self, keys): return {key: [path, None, values, True] for key, (path, _, values, _) in keys.items() if any((key + "\\").startswith(top + "\\") for top in self.SUBTREES)}

    def run(self, settings, args):
        # A bare argument 0 is a name that the command interpreter finds along PATH (Wine itself
        # would hand the program its full path); the arguments are plain switches.
        return self.wine("wine", *(["cmd", "/c", settings["argv0"]] if settings["argv0"] else ["C:\\disk\\reg7140.exe"]), *args, WINEPATH="C:\\disk")

    def setup(self, source, cmake):
        """Cross-builds the program and the command-line check, creates the 32-bit prefix (a 64-bit
        one cannot be converted: it goes) and starts its server, which outlives the last Wine process
        by two minutes, so that the scenarios start Wine quickly; a server left by an earlier tier
        would keep its old lifetime. 77 (skipped) where a 32-bit program (the prefix's cmd) does not run."""
        binary, prefix = os.path.dirname(self.program), self.env["WINEPREFIX"]
        for command in (["--preset", "win95-i686", "-S", source, "-B", binary], ["--build", binary, "-j2", "--target", "reg7140", "command_line_check"]):
            subprocess.run([cmake, *command], check=True, stdout=subprocess.DEVNULL)
        self.wine("wineserver", "-k")
        if (arch := re.search(rb"^#arch=(\S+)", read(prefix, "system.reg"), re.M)) and arch[1] != b"win32": shutil.rmtree(prefix)
        os.makedirs(prefix, exist_ok=True)
        if os.path.exists(self.no_32_bit): os.remove(self.no_32_bit)
        if self.wine("wineserver", "-p120")[0] or self.wine("wineboot", "-i")[0] or self.wine("wine", "cmd", "/c", "exit", "32")[0] != 32:
            open(self.no_32_bit, "w").write("wineboot or a 32-bit program failed in a 32-bit prefix (is wine32 installed?)\n")
            return skip(read(self.no_32_bit).decode().strip())

    def cleanup(self): self.wine("wineserver", "-k")  # and with it every Wine program of the prefix

    def command_lines(self, check):
        status, out = self.wine("wine", check, err=True)  # the check's own report and exit status
        return print(out.replace("\r\n", "\n"), end="") or status


# --- the failure sweeps, on the POSIX backend ------------------------------------------------

def whole_reports(out): return re.fullmatch(rf"({DETAIL.pattern}\n[^\n]+\n)*", out)  # each a detail line, then a message


def in_states(backend, states, killed=False):
    """Problems unless each file and value is as in one of the `states`."""
    now = backend.state()
    return [f"{key}: {'missing' if key not in now else 'new or other bytes'}" for key in sorted(set(now).union(*states))
            if not (killed and KILL_LEFTOVER.search(key)) and now.get(key) not in [s.get(key) for s in states]]


def sweep(backend, action, kind, directory=SAMPLE):
    """The Nth call of `kind` fails with EIO or kills the run, for every N until a run injects
    nothing. Each file is left as before the run or as its job leaves it, and a clean run after it
    converges. 127 without output: the loader could not read a library and the program never ran."""
    settings, problems, n = read_settings(directory := directory if os.path.isdir(directory) else os.path.join(HERE, directory))[0], [], 0
    with machine(backend, directory, settings):
        clean_run, clean = backend.run(settings, ["/D9"]), backend.state()
    while True:
        with machine(backend, directory, settings), tempfile.NamedTemporaryFile() as trace:
            start, n = backend.state(), n + 1
            status, out = backend.run(settings, ["/D9"], ["-o", trace.name, "-e", kind, "-e", f"inject={kind}:{'error=EIO' if action == 'io-errors' else 'signal=SIGKILL'}:when={n}"])
            if b"(INJECTED)" not in read(trace.name) and status != -9: break
            killed = action == "crashes" and status == -9
            found = [f"exit status {status}"] * (not killed and status not in (0, 1) and (status, out) != (127, "")) + [f"output {out!r}"] * (not whole_reports(out))
            found += in_states(backend, [start, clean], killed) + ["a clean run after it"] * (backend.run(settings, ["/D9"]) != clean_run)
            problems += [f"{kind} call {n}: {p}" for p in found + ["after a clean run: " + p for p in in_states(backend, [clean], killed)]]
    return print(f"{action} {kind}: {n - 1} calls") or problems + ([] if n > 1 and clean_run == (0, "") else [f"no {kind} call, or a clean run fails"])


def durability(backend, _):
    """Each file the run writes is flushed, renamed into place, then its directory flushed."""
    with machine(backend), tempfile.NamedTemporaryFile() as trace:
        backend.run(SETTINGS, ["/D9"], ["-o", trace.name, "-y", "-e", "write,pwrite64,fchmod,ftruncate,utimensat,fsync,fdatasync,rename,renameat,renameat2"])
        dirty, problems = set(), []
        for call, path, names in re.findall(r"^\d+\s+(\w+)\((?:\d+<([^>]*)>|(.*?)\))", read(trace.name).decode("latin-1"), re.M):
            if call.startswith("rename"):
                source, target = re.findall(r'"([^"]*)"', names)[:2]
                problems, dirty = problems + [f"{target} replaced by unflushed {source}"] * (source in dirty), (dirty - {source}) | {os.path.dirname(target)}
            elif call in ("fsync", "fdatasync"): dirty.discard(path)
            elif path.startswith(backend.root): dirty.add(path)
    return problems + [f"{path}: written or renamed into, never flushed" for path in dirty]


def concurrency(backend, _, runs=8, rounds=10):
    """Runs at the same time on one machine leave it as one run does (round 0)."""
    problems = []
    for number in range(rounds + 1):
        with machine(backend), ThreadPoolExecutor(runs) as pool:
            problems += [f"round {number}: {result}" for result in pool.map(lambda _: backend.run(SETTINGS, ["/D9"]), range(runs if number else 1)) if result != (0, "")]
            clean = clean if number else backend.state()
            problems += [f"round {number}: {p}" for p in differences(clean, backend.state())]
    return problems


def cut_registries(backend, _):
    """Cut at every line end and next to it, and at seeded points, the registry makes the run
    refuse and leave the files (not when cut after a whole line naming the version), or the run
    keeps every value its job does not change. With the version keys first, most cut-off files
    still name the version and the jobs run. A lone quote is no string, and a cut right after a CR
    still ends the line."""
    sample, problems = read(SAMPLE, REG), []
    at = sample.index(b"[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion]")
    reordered = b"REGEDIT4\r\n\r\n" + sample[at:].rstrip() + b"\r\n\r\n" + sample[12:at]
    for cut in sorted({i + d for i, c in enumerate(reordered) if c == 10 for d in (-1, 0, 1)} | set(random.Random(4).sample(range(len(reordered)), 300))):
        text = reordered[:cut] + b"\n" * reordered[:cut].endswith(b"\r")
        before = {} if re.fullmatch(rb'(@|"([^"\\]|\\.)*")="\r?', text.rsplit(b"\n", 1)[-1]) else registry(text)
        with machine(backend):
            open(backend.path(REG), "wb").write(reordered[:cut])
            start, (status, out) = backend.state(), backend.run(SETTINGS, ["/D9", "/inst"])
            readable, named = before and "(unreadable)" not in before, "versionnumber" in before.get(VERSION_KEY.lower(), [0, 0, {}])[2]
            if (status, out) == (1, "reg7140: Errorcode 0 returned from GetVersionEx on line 158\nThis program requires Windows 95\n"):
                if backend.state() != start or readable and named and re.search(rb"[^\\]\r\n$", text): problems.append(f"registry cut at {cut}: refused, but it must run, or files changed")
            elif status or not whole_reports(out) or not readable or any(backend.state().get(k) != v for k, v in flat(before).items() if not re.search(r"(forcedconfig|memorybaseaddress|logconfig value '000\d|override)", k, re.I)):
                problems.append(f"registry cut at {cut}: status {status}, output {out!r}, or values lost")
    return problems


def main(backend="", program="", command="", *rest):
    if backend not in ("posix", "wine") or not program: sys.exit(__doc__)
    if backend == "wine" and not (shutil.which("wine") and shutil.which("i686-w64-mingw32-g++-win32")): return skip("wine or the MinGW-w64 i686 compiler is not installed")
    backend = Posix(program) if backend == "posix" else Wine(program)
    if command not in ("setup", "cleanup") and os.path.exists(getattr(backend, "no_32_bit", "")): return skip(read(backend.no_32_bit).decode().strip())
    if command in ("setup", "cleanup", "command-lines"): return getattr(backend, command.replace("-", "_"))(*rest) or 0
    if command not in ("io-errors", "crashes", "durability", "concurrency", "cut-registries"):
        results = [run_scenario(directory, backend) for directory in (command, *rest)]
        return 77 if all(result is None for result in results) else int(False in results)
    if command != "concurrency" and subprocess.run(["strace", "-o", "/dev/null", "true"]).returncode: return skip("strace is missing or may not trace here")
    problems = (sweep if command in ("io-errors", "crashes") else globals()[command.replace("-", "_")])(backend, command, *rest)
    return print("".join(f"FAIL {problem}\n" for problem in problems) + f"{len(problems)} problems") or int(bool(problems))


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
