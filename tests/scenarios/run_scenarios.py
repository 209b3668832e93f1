#!/usr/bin/env python3
"""Runs reg7140 on scenario machines, small overlays on the sample machine (README, "Scenarios"),
and checks what it printed and left behind: on a temporary copy of the machine (backend posix),
or the Windows build on a Wine prefix that the scenarios share one after another (backend wine)."""
import glob, os, pathlib, re, shlex, shutil, subprocess, sys, tempfile  # noqa: E401

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLE, CLEAN = os.path.join(HERE, "..", "..", "sample"), os.path.join(HERE, "clean_run")
REG = "WINDOWS/system.reg"
SETTINGS = dict(args="", exit="0", version="win95", windir="{root}/WINDOWS", windir_name="WINDIR", argv0="", machine="", move="",
                remove="", mtime="", readonly="", changes="", writable="", rerun="no",
                backends="posix,wine")
DRIVERS = ("disk/zvnd32.sys", "WINDOWS/system/zvnd32.sys")  # on the source disk, installed
MTIMES = f"{DRIVERS[0]}=857000000,{DRIVERS[1]}=830000000"  # the installed one is older
VERSION_KEY = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion"
VERSIONS = {"win95": "4.00.950", "win98": "4.10.1998", "nt40": "4.0", "win2k": "5.0"}
DETAIL = re.compile(r"reg7140: Errorcode -?\d+ returned from .* on line \d+")
VALUE = re.compile(r'(@|"((?:[^"\\]|\\.)*)")=(.*)')
LINES = re.compile(r"[^\n]*\n|[^\n]+$")


def split(text):
    return [item.strip() for item in text.split(",") if item.strip()]


def read(*parts):
    path = pathlib.Path(*parts)
    return path.read_bytes() if path.is_file() else b""


def read_settings(directory):
    settings, stdout = dict(SETTINGS), ""
    for line in read(directory, "scenario.txt").decode("latin-1").splitlines():
        key, _, value = line.partition("=")
        if key == "stdout":  # a line of the output at level 9, or @FILE: the lines of FILE here
            stdout += read(HERE, value[1:]).decode("latin-1") if value[:1] == "@" else value + "\n"
        elif line and not line.startswith("#"):
            if key not in SETTINGS:
                raise SystemExit(f"{directory}/scenario.txt: unknown setting {line!r}")
            settings[key] = value
    return settings, stdout


def at_level(detailed, level):
    """Reports lose their first line at levels 1 to 8 and print nothing at 0; the usage text
    prints at every level."""
    lines = detailed.split("\n")
    drop = {i + j for i, line in enumerate(lines) if level < 9 and DETAIL.fullmatch(line)
            for j in range(1 + (level == 0))}
    return "\n".join(line for i, line in enumerate(lines) if i not in drop)


# --- registry files and diffs ----------------------------------------------------------------

def groups(lines):
    """Lines as REGEDIT reads them: a hex value with the lines its backslashes continue onto."""
    out = []
    for line in lines:
        if out and "=hex" in out[-1][0] and out[-1][-1].rstrip().endswith("\\"):
            out[-1].append(line)
        else:
            out.append([line])
    return out


def ident(line):
    """A value line's quoted name, or ;class, in lower case; None for other lines."""
    m = VALUE.match(line)
    return m[1].lower() if m else ";class" if line.startswith(";class=") else None


def owners(doc):
    """The key (lower case) that each line group lies under."""
    key, out = "", []
    for group in doc:
        key = group[0].strip()[1:].rstrip("]").lower() if group[0].startswith("[") else key
        out.append(key)
    return out


def under(key, top):
    return key == top or key.startswith(top + "\\")


def edit_registry(text, fragment):
    """`text` with the edits of a REGEDIT4 fragment, every other byte kept. [KEY] with value or
    ;class= lines replaces them where they stand or adds them after the key's last value, or adds
    the key after its parent's subkeys; [-KEY] removes a key and its subkeys, "name"=- a value."""
    nl = "\n" if text and "\r\n" not in text else "\r\n"
    doc = groups(LINES.findall(text))
    for section in re.split(r"^(?=\[)", fragment, flags=re.M):
        items = [g for g in groups(line.rstrip("\r") + nl for line in section.split("\n"))
                 if g[0].startswith("[") or ident(g[0])]
        if not items:
            continue
        key, own = owners(items)[0], owners(doc)
        if key.startswith("-"):
            doc = [g for g, o in zip(doc, own) if not under(o, key[1:])]
        elif key not in own:
            parent = key.rpartition("\\")[0]
            at = max([i + 1 for i, o in enumerate(own) if under(o, parent)] or [len(doc)])
            doc[at:at] = [g for g in items if not g[0].rstrip().endswith("=-")] + [[nl]]
        for item in items[1:] if key in own else []:
            mine = [i for i, o in enumerate(owners(doc)) if o == key]
            hits = [i for i in mine if ident(doc[i][0]) == ident(item[0])]
            if item[0].rstrip().endswith("=-"):
                doc = [g for i, g in enumerate(doc) if i not in hits]
            elif hits:
                doc[hits[-1]] = item
            else:
                doc.insert(max(i for i in mine if i == mine[0] or ident(doc[i][0])) + 1, item)
    return "".join(line for group in doc for line in group)


def patch(files, diff):
    """Applies `diff -U0` output to the file of {path: bytes} that its +++ line names."""
    if not diff:
        return None
    name = re.search(rb"^\+\+\+ (\S+)", diff, re.M)[1].decode()
    old, new, at = re.findall(rb"[^\n]*\n|[^\n]+$", files[name]), [], 0
    for start, count, body in re.findall(rb"^@@ -(\d+)(?:,(\d+))? .*\n((?:[-+\\].*\n)*)", diff, re.M):
        new, at = new + old[at:int(start) - (count != b"0")], int(start) - (count != b"0")
        lines = re.findall(rb".*\n", body)
        for i, line in enumerate(lines):
            if line[:1] == b"-" and old[at].rstrip(b"\n") != line[1:-1]:
                raise SystemExit(f"{name}: line {at + 1} is not as the diff has it")
            at, new = at + (line[:1] == b"-"), new + [line[1:]] * (line[:1] == b"+")
            if line[:1] == b"\\" and lines[i - 1][:1] == b"+":  # no newline at end of file
                new[-1] = new[-1][:-1]
    files[name] = b"".join(new + old[at:])
    return name


def parse_reg(text):
    """{lower key path: (path, class or None, {lower name: (name, type, bytes)})}, implied parent
    keys included, text data as the ANSI bytes a program reads: a reader of its own, not the
    program's."""
    lines = text.replace("\r\n", "\n").split("\n")
    if lines[0].strip() not in ("REGEDIT4", "Windows Registry Editor Version 5.00"):
        raise ValueError("not a registry file")
    keys, key = {}, None
    for group in groups(lines[1:]):
        line = "".join(part.strip()[:-1] for part in group[:-1]) + group[-1].strip()
        klass, value = re.fullmatch(r';class="(.*)"', line), VALUE.fullmatch(line)
        if klass and key:
            keys[key][1] = unescape(klass[1])
        elif line.startswith("[") and line.endswith("]"):
            parts = line[1:-1].split("\\")
            for i in range(1, len(parts) + 1):
                keys.setdefault("\\".join(parts[:i]).lower(), ["\\".join(parts[:i]), None, {}])
            key = line[1:-1].lower()
        elif value and key:
            name = unescape(value[2] or "")
            keys[key][2][name.lower()] = (name, *decode(value[3], lines[0].strip() != "REGEDIT4"))
        elif line and not line.startswith(";"):
            raise ValueError(f"bad line {line!r}")
    return {k: tuple(v) for k, v in keys.items()}


def unescape(text):
    return re.sub(r"\\(.)", r"\1", text)


def decode(data, wide):
    if len(data) > 1 and data[0] == data[-1] == '"':
        return 1, unescape(data[1:-1]).encode("latin-1") + b"\0"
    if data.startswith("dword:"):
        return 4, int(data[6:], 16).to_bytes(4, "little")
    m = re.fullmatch(r"hex(?:\(([0-9a-fA-F]+)\))?:(.*)", data)
    if not m:
        raise ValueError(f"bad data {data!r}")
    kind, raw = int(m[1] or "3", 16), bytes(int(b, 16) for b in m[2].split(",") if b.strip())
    if wide and kind in (1, 2, 7) and len(raw) % 2 == 0:  # UTF-16LE text in a REGEDIT5 file
        raw = raw.decode("utf-16-le").encode("latin-1", "replace")
    return kind, raw


def registry_text(path):
    raw = read(path) or b"REGEDIT4\r\n\r\n"
    return raw[2:].decode("utf-16-le") if raw[:2] == b"\xff\xfe" else raw.decode("latin-1")


def registry(text):
    try:
        return parse_reg(text)
    except ValueError:  # a registry the program cannot read must stay exactly as it was
        return {"(unreadable)": ("(unreadable)", None, {"": ("", 3, text.encode("latin-1"))})}


def flat(parsed):
    """A registry as {key: its class, key and value name: the value}, to compare like files."""
    out = {key: f"a key of class {klass!r}" for key, (_, klass, _) in parsed.items()}
    out.update((f"{key} value {name!r}", f"{v[0]!r} type {v[1]} [{v[2].hex(' ')}]")
               for key, (_, _, values) in parsed.items() for name, v in values.items())
    return out


def differences(expected, actual):
    """What differs, each from the first character or byte that does."""
    out = []
    for key in sorted(set(expected) | set(actual)):
        e, a = expected.get(key), actual.get(key)
        if e != a:
            at = next((i for i, (x, y) in enumerate(zip(e or "", a or "")) if x != y),
                      min(len(e or ""), len(a or "")))
            out.append(f"{key}: at {at}, expected {'nothing' if e is None else repr(e[at:at + 80])}"
                       f", got {'nothing' if a is None else repr(a[at:at + 80])}")
    return out


# --- machines and runs -----------------------------------------------------------------------

def read_tree(top, prefix=""):
    return {prefix + os.path.relpath(os.path.join(base, name), top).replace(os.sep, "/"):
            read(base, name) for base, _, names in os.walk(top) for name in names}


def find(files, rel):
    """`rel` as spelled in `files`, matched regardless of letter case as on a FAT disk."""
    return next((r for r in files if r.lower() == rel.lower()), rel)


def build_machine(directory, settings):
    files = read_tree(SAMPLE)
    text = edit_registry(files[REG].decode("latin-1"), f"[-{VERSION_KEY}]")
    for old, new in (pair.split(">") for pair in split(settings["move"])):
        files[new] = files.pop(old)
    for rel in split(settings["remove"]):
        del files[rel]
    overlay = os.path.join(HERE, settings["machine"]) if settings["machine"] else directory
    patch(files, read(overlay, "machine.diff"))
    text, version = edit_registry(text, read(overlay, "machine.reg").decode("latin-1")), settings["version"]
    if version in ("nt40", "win2k"):
        nt_key = VERSION_KEY.replace("Windows", "Windows NT")
        text += f'\r\n[{nt_key}]\r\n"CurrentVersion"="{VERSIONS[version]}"\r\n'
    elif version != "none":
        text += f'\r\n[{VERSION_KEY}]\r\n"VersionNumber"="{VERSIONS.get(version, version)}"\r\n'
    files[REG] = text.encode("latin-1")
    return files


def expectation(directory, settings, files, text):
    """The files and the registry that the run should leave: as before it, but for `changes`."""
    for change in split(settings["changes"]):
        fragment, diff, clean = read(CLEAN, change + ".reg"), read(CLEAN, change + ".diff"), read_tree(SAMPLE)
        if not (fragment or diff or change == "driver"):
            raise SystemExit(f"{directory}: no change {change!r} in clean_run/")
        text, name = edit_registry(text, fragment.decode("latin-1")), patch(clean, diff)
        if name:
            files[find(files, name)] = clean[name]
        if change == "driver":  # the source disk's driver installed
            files[find(files, DRIVERS[1])] = files[DRIVERS[0]]
    patch(files, read(directory, "expect.diff"))
    return files, registry(edit_registry(text, read(directory, "expect.reg").decode("latin-1")))


def run_scenario(directory, backend):
    """True when the scenario passed, False when it failed, None when it is not for the backend."""
    (settings, stdout), name = read_settings(directory), os.path.basename(os.path.normpath(directory))
    if backend.name not in split(settings["backends"]):
        print(f"SKIP {name}: not for the {backend.name} backend")
        return None
    failures = []
    for level in ["0", "1", "9"] if "{level}" in settings["args"] else [""]:
        args = shlex.split(settings["args"].replace("{level}", level))
        with tempfile.TemporaryDirectory(prefix="reg7140-scenario-") as root:
            files = build_machine(directory, settings)
            backend.prepare(root, files, settings)
            for rel, seconds in (pair.split("=") for pair in split(MTIMES + "," + settings["mtime"])):
                if rel in files:
                    os.utime(backend.path(rel), (int(seconds), int(seconds)))
            for rel in split(settings["readonly"]):
                os.chmod(backend.path(rel), os.stat(backend.path(rel)).st_mode & ~0o222)
            expected, reg = expectation(directory, settings, backend.files(), files[REG].decode("latin-1"))
            expected.update(flat(backend.view(reg)), output=backend.output(at_level(stdout, int(level or 9))),
                            exit=settings["exit"])
            status, out = backend.run(settings, args)
            after = dict(backend.files(), **flat(backend.registry()))
            expected[REG] = after.get(REG)  # compared by content; a second run keeps its bytes too
            problems = differences(expected, dict(after, output=out, exit=str(status)))
            if "driver" in split(settings["changes"]):  # installed with the source's last-write time
                times = {rel: int(os.stat(backend.path(find(after, rel))).st_mtime) for rel in DRIVERS}
                problems += [] if len(set(times.values())) == 1 else [f"driver times differ: {times}"]
            for rel in split(settings["writable"]):
                # The owner's write bit stands for the read-only attribute, as on every backend.
                if not os.path.exists(backend.path(rel)) or not os.stat(backend.path(rel)).st_mode & 0o200:
                    problems.append(f"{rel} should exist and not be read-only")
            if settings["rerun"] == "yes":
                backend.run(settings, args)
                again = dict(backend.files(), **flat(backend.registry()))
                problems += ["second run: " + problem for problem in differences(after, again)]
            failures += [f"{name}{' at level ' + level if level else ''}: {p}" for p in problems]
    print("".join(f"FAIL {failure}\n" for failure in failures) + ("FAILED " if failures else "ok ") + name)
    return not failures


class Posix:
    name, program_file, tops = "posix", "disk/reg7140", [""]

    def __init__(self, program):
        self.program = os.path.abspath(program)

    def path(self, rel):
        return os.path.join(self.root, rel)

    def prepare(self, root, files, settings):
        self.root = root
        for rel, data in dict(files, **{self.program_file: read(self.program)}).items():
            os.makedirs(os.path.dirname(self.path(rel)), exist_ok=True)
            with open(self.path(rel), "wb") as f:
                f.write(data)
        os.chmod(self.path(self.program_file), 0o755)

    def files(self):
        """The machine's files; a scratch copy that the INF job had nothing to insert into may stay."""
        return {rel: data for top in self.tops for rel, data in read_tree(self.path(top), top).items()
                if not rel.lower().endswith("/netzor.new")}

    def registry(self):
        return registry(registry_text(self.path(REG)))

    def view(self, parsed):
        return parsed

    def output(self, text):
        return text

    def run(self, settings, args):
        env = {k: v for k, v in os.environ.items() if k.upper() != "WINDIR"}
        if settings["windir"] != "unset":
            env[settings["windir_name"]] = settings["windir"].replace("{root}", self.root)
        argv0 = (settings["argv0"] or self.path(self.program_file)).replace("{root}", self.root)
        result = subprocess.run([argv0.replace("{empty}", ""), *args], env=env,
                                executable=self.path(self.program_file), cwd=self.root,
                                capture_output=True, timeout=60)
        return result.returncode, result.stdout.decode("latin-1")


class Wine(Posix):
    """The 32-bit program in a 32-bit prefix. WINDOWS/ is C:\\windows and disk/ C:\\disk; the keys
    under SUBTREES are imported with reg and only they are compared (without class strings: an
    export has none); the version becomes Wine's Windows version."""
    name, program_file, tops = "wine", "disk/reg7140.exe", ["WINDOWS/inf/", "WINDOWS/system/", "disk/"]
    SUBTREES = ("HKEY_LOCAL_MACHINE\\Enum\\PCMCIA",
                "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class")

    def __init__(self, program):
        super().__init__(program)
        prefix = os.environ.get("WINEPREFIX") or os.path.join(os.path.dirname(self.program), "wine-prefix")
        # The program's Windows directory is Wine's own C:\windows; the host's WINDIR stays out.
        self.env = {k: v for k, v in os.environ.items() if k.upper() != "WINDIR"}
        self.env.update(WINEARCH="win32", WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
                        WINEPREFIX=prefix)
        # Left by the set-up when this machine cannot run 32-bit Windows programs.
        self.no_32_bit = os.path.join(prefix, "cannot-run-32-bit-programs")

    def path(self, rel):
        top, _, rest = rel.partition("/")
        return os.path.join(self.env["WINEPREFIX"], "drive_c", top.replace("WINDOWS", "windows"), rest)

    def host(self, name):
        return "Z:" + os.path.join(self.root, name).replace("/", "\\")  # Z: is the host's /

    def reg(self, *commands):
        """Runs Wine's registry tool, the commands side by side; now and then one fails without a
        word, so they are tried up to three times (the program's runs never are)."""
        for attempt in range(3):
            runs = [subprocess.Popen(["wine", "reg", *command], env=self.env, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                    for command in commands]
            if not any([run.wait(timeout=120) for run in runs]):
                return
            print(f"note: reg {commands} failed, attempt {attempt + 1}")
        raise SystemExit("reg failed three times")

    def prepare(self, root, files, settings):
        if settings["version"] not in VERSIONS or (settings["windir"], settings["windir_name"]) != (
                SETTINGS["windir"], "WINDIR"):
            raise SystemExit("Wine has no such version, and WINDIR is its own")
        # What the scenario before left: its files, the program's scratch, temporary and backup
        # files (netzor.new, netzor.t00, zvnd32.b00...); Wine keeps nothing in C:\windows\system.
        shutil.rmtree(self.path("disk/"), ignore_errors=True)
        for host in glob.glob(self.path("WINDOWS/inf/netzor.*")) + glob.glob(self.path("WINDOWS/system/*")):
            os.remove(host)
        super().prepare(root, {rel: data for rel, data in files.items() if rel != REG}, settings)
        doc = groups(LINES.findall(files[REG].decode("latin-1")))
        with open(os.path.join(root, "import.reg"), "w", encoding="latin-1", newline="") as f:
            f.write("REGEDIT4\r\n\r\n" + "".join(f"[-{top}]\r\n\r\n" for top in self.SUBTREES) +
                    '[HKEY_LOCAL_MACHINE\\Enum]\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine]\r\n'
                    f'"Version"="{settings["version"]}"\r\n\r\n' +
                    "".join(line for group, key in zip(doc, owners(doc)) if self.mine(key) for line in group))
        self.reg(["import", self.host("import.reg")])

    def mine(self, key):
        return any(under(key, top.lower()) for top in self.SUBTREES)

    def registry(self):
        # The parent of PCMCIA always exists: a failed export is never a missing key.
        self.reg(*(["export", key, self.host(f"export{i}.reg"), "/y"]
                   for i, key in enumerate(("HKEY_LOCAL_MACHINE\\Enum", self.SUBTREES[1]))))
        return self.view({**registry(registry_text(os.path.join(self.root, "export0.reg"))),
                          **registry(registry_text(os.path.join(self.root, "export1.reg")))})

    def view(self, parsed):
        return {key: (path, None, values) for key, (path, _, values) in parsed.items() if self.mine(key)}

    def run(self, settings, args):
        # A bare argument 0 is a name that the command interpreter finds along PATH (Wine itself
        # would hand the program its full path); the arguments are plain switches.
        args = ["cmd", "/c", settings["argv0"], *args] if settings["argv0"] else ["C:\\disk\\reg7140.exe", *args]
        # Output goes to a file, not a pipe: the first program of a fresh server starts Wine's
        # background processes, which inherit its handles and would hold a pipe open.
        with tempfile.TemporaryFile() as out:
            status = subprocess.run(["wine", *args], env=dict(self.env, WINEPATH="C:\\disk"), stdout=out,
                                    stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120,
                                    cwd=self.env["WINEPREFIX"]).returncode
            out.seek(0)
            return status, out.read().decode("latin-1")

    def output(self, text):
        return text.replace("\n", "\r\n")  # the program writes each line feed as CR LF

    def quiet(self, *command):
        """The exit status of a command; no pipes, which Wine's background processes would keep."""
        return subprocess.run(command, env=self.env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode

    def setup(self, source, cmake):
        """Cross-builds the program and the Wine checks, creates the 32-bit prefix and starts its
        server, which outlives the last Wine process by two minutes, so that the scenarios start
        Wine quickly; 77 (skipped) where a 32-bit program does not run."""
        binary, prefix = os.path.dirname(self.program), self.env["WINEPREFIX"]
        for command in (["--preset", "win95-i686", "-S", source, "-B", binary],
                        ["--build", binary, "-j2", "--target", "reg7140", "command_line_check", "wine_probe"]):
            subprocess.run([cmake, *command], check=True, stdout=subprocess.DEVNULL)
        self.quiet("wineserver", "-k")  # a server left by an earlier tier would keep its old lifetime
        arch = re.search(rb"^#arch=(\S+)", read(prefix, "system.reg"), re.M)
        if arch and arch[1] != b"win32":  # the 64-bit prefix of an earlier tier: Wine cannot convert it
            shutil.rmtree(prefix)
        os.makedirs(prefix, exist_ok=True)
        if os.path.exists(self.no_32_bit):
            os.remove(self.no_32_bit)
        probe = os.path.join(binary, "tests", "win32", "wine_probe.exe")
        if self.quiet("wineserver", "-p120") or self.quiet("wineboot", "-i") or self.quiet("wine", probe) != 32:
            with open(self.no_32_bit, "w") as f:
                f.write("wineboot or a 32-bit program failed in a 32-bit prefix (is wine32 installed?)\n")
            print("skipped: " + read(self.no_32_bit).decode().strip())
            return 77
        return 0

    def command_lines(self, check):
        """The command-line check: its own report and exit status."""
        with tempfile.TemporaryFile() as out:
            status = subprocess.run(["wine", check], env=self.env, stdin=subprocess.DEVNULL, stdout=out,
                                    stderr=subprocess.STDOUT, timeout=300).returncode
            out.seek(0)
            print(out.read().decode("latin-1").replace("\r\n", "\n"), end="")
        return status


def main(backend="", program="", *rest):
    """run_scenarios.py posix|wine PROGRAM SCENARIO..., or wine PROGRAM setup SOURCE CMAKE, or
    wine PROGRAM command-lines CHECK, or wine PROGRAM cleanup."""
    if backend not in ("posix", "wine") or not program:
        raise SystemExit(main.__doc__)
    if backend == "wine" and not (shutil.which("wine") and shutil.which("i686-w64-mingw32-g++-win32")):
        print("skipped: wine or the MinGW-w64 i686 compiler is not installed")
        return 77  # CTest's SKIP_RETURN_CODE
    backend = Posix(program) if backend == "posix" else Wine(program)
    if rest[:1] == ("setup",):
        return backend.setup(*rest[1:])
    if rest[:1] != ("cleanup",) and backend.name == "wine" and os.path.exists(backend.no_32_bit):
        print("skipped: " + read(backend.no_32_bit).decode().strip())
        return 77
    if rest[:1] == ("command-lines",):
        return backend.command_lines(*rest[1:])
    elif rest[:1] == ("cleanup",):
        backend.quiet("wineserver", "-k")  # and with it every Wine program of the prefix
    else:
        results = [run_scenario(directory, backend) for directory in rest]
        return 77 if all(result is None for result in results) else 1 if False in results else 0
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
