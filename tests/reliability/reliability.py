#!/usr/bin/env python3
"""Whole runs of reg7140 on copies of the sample machine under the troubles a user meets:
  reliability.py PROGRAM io-errors|crashes KIND [capitals] | durability | concurrency | malformed
The commands that need strace exit with 77 (skipped) without it."""
import contextlib, os, random, re, shutil, subprocess, sys, tempfile  # noqa: E401
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

TOP = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(TOP / "tests" / "scenarios"))
import run_scenarios as rs  # noqa: E402  (a registry reader independent of the program's)

REG, INF, DRIVER = "WINDOWS/system.reg", "WINDOWS/inf/netzor.inf", "WINDOWS/system/zvnd32.sys"
PROGRAM = "disk/reg7140"
# Git keeps no file times: the installed driver is made the older one, as the demo does.
TIMES = {DRIVER: 830000000, "disk/zvnd32.sys": 857000000}
# Spelled in capitals, every write has to find the existing spelling.
CAPITALS = {INF: "NETZOR.INF", "WINDOWS/inf": "INF", DRIVER: "ZVND32.SYS"}
SCRATCH = re.compile(r"^WINDOWS/inf/netzor\.new$", re.I)
# A killed run cannot remove the temporary file it was filling.
KILL_LEFTOVER = re.compile(r"^WINDOWS/(system/)?\.(system\.reg|zvnd32\.sys)\.[A-Za-z0-9]{6}$", re.I)
REFUSAL = ("reg7140: Errorcode 0 returned from GetVersionEx on line 158\n"
           "This program requires Windows 95\n")


@contextlib.contextmanager
def machine(program, capitals=False, leftover=False):
    with tempfile.TemporaryDirectory(prefix="reg7140-rel-") as root:
        shutil.copytree(TOP / "sample", root, dirs_exist_ok=True)
        shutil.copy2(program, Path(root, PROGRAM))
        for rel, seconds in TIMES.items():
            os.utime(Path(root, rel), (seconds, seconds))
        if leftover:
            Path(root, "WINDOWS/inf/netzor.new").write_bytes(b"left by an earlier run\r\n")
        for rel, name in CAPITALS.items() if capitals else ():
            os.rename(Path(root, rel), Path(root, rel).with_name(name))
        yield root


def run(root, *args, strace=(), windir=None, argv0=None):
    """Exit status (negative for a signal), output and strace's record of one run."""
    program = os.path.join(root, PROGRAM)
    env = dict(os.environ, WINDIR=os.path.join(root, "WINDOWS") if windir is None else windir)
    command = [program if argv0 is None else argv0, *(args or ["/D9"])]
    with tempfile.NamedTemporaryFile(prefix="reg7140-trace-") as trace:
        if strace:
            command = ["strace", "-f", "-qq", "-o", trace.name, *strace, "--", *command]
        done = subprocess.run(command, executable=None if strace else program, cwd=root, env=env,
                              capture_output=True, timeout=300)
        return done.returncode, done.stdout.decode("latin-1"), trace.read().decode("latin-1")


def snapshot(root):
    """{path: (bytes, time for the installed driver)} of every file but the program."""
    paths = [p for p in Path(root).rglob("*") if p.is_file() and p != Path(root, PROGRAM)]
    return {str(p.relative_to(root)): (p.read_bytes(), int(p.stat().st_mtime) if str(
        p.relative_to(root)).lower() == DRIVER.lower() else None) for p in paths}


def compare(root, allowed, what, killed=False):
    """Problems unless each file is as in one of the `allowed` snapshots."""
    now = snapshot(root)
    return [f"{what}: {rel} " + ("missing" if rel not in now else "new or with other bytes")
            for rel in sorted(set(now).union(*allowed))
            if not SCRATCH.match(rel) and not (killed and KILL_LEFTOVER.match(rel))
            and now.get(rel) not in [state.get(rel) for state in allowed]]


def whole_reports(out):
    lines = out.split("\n")  # each report a detail line, then a message
    return not lines.pop() and len(lines) % 2 == 0 and all(
        rs.DETAIL.match(detail) and message for detail, message in zip(lines[::2], lines[1::2]))


def clean_reference(program, capitals=False):
    with machine(program, capitals) as root:
        start, (status, out, _) = snapshot(root), run(root)
        if status != 0 or out:
            raise SystemExit(f"a clean run fails: status {status}, output {out!r}")
        return start, snapshot(root), out


def sweep(program, action, kind, capitals):
    """The Nth call of `kind` fails with EIO or kills the run, for every N; ftruncate only meets a
    scratch file left by an earlier run."""
    _, clean, clean_out = clean_reference(program, capitals)
    with machine(program, capitals, leftover=kind == "ftruncate") as root:
        count = len(re.findall(rf"^\d+\s+{kind}\(", run(root, strace=["-e", kind])[2], re.M))
    print(f"{action} {kind}: {count} calls")
    problems = [] if count else [f"the program makes no {kind} call: drop the kind"]
    inject = "error=EIO" if action == "io-errors" else "signal=SIGKILL"
    for n in range(1, count + 1):
        with machine(program, capitals, leftover=kind == "ftruncate") as root:
            start, what = snapshot(root), f"{kind} call {n}/{count}"
            status, out, trace = run(root, strace=["-e", kind, "-e",
                                                   f"inject={kind}:{inject}:when={n}"])
            killed = action == "crashes" and status == -9
            # The run follows the clean run's way up to the Nth call, so the fault must happen.
            # 127 without output: the loader could not read a library and the program never ran.
            problems += [f"{what}: {problem}" for problem, found in [
                ("nothing injected", not killed and "(INJECTED)" not in trace),
                (f"exit status {status}", not killed and status not in (0, 1)
                 and not (status == 127 and not out)),
                (f"output {out!r}", not whole_reports(out))] if found]
            problems += compare(root, [start, clean], f"{what}, after the run", killed)
            status, out, _ = run(root)
            if status != 0 or out != clean_out:
                problems.append(f"{what}: a clean run after it: status {status}, output {out!r}")
            problems += compare(root, [clean], f"{what}, after a clean run", killed)
    return problems


def durability(program):
    """Each file the run writes is flushed, renamed into place, then its directory flushed."""
    with machine(program) as root:
        trace = run(root, strace=["-y", "-e", "write,pwrite64,fchmod,ftruncate,utimensat,fsync,"
                                              "fdatasync,rename,renameat,renameat2"])[2]
    dirty, problems = set(), []
    for call, path, names in re.findall(r"^\d+\s+(\w+)\((?:\d+<([^>]*)>|(.*?)\))", trace, re.M):
        if call.startswith("rename"):
            source, target = re.findall(r'"([^"]*)"', names)[:2]
            problems += [f"{target} replaced by unflushed {source}"] if source in dirty else []
            dirty = (dirty - {source}) | {os.path.dirname(target)}
        elif call in ("fsync", "fdatasync"):
            dirty.discard(path)
        elif path.startswith(root):
            dirty.add(path)
    return problems + [f"{path}: written or renamed into, never flushed" for path in dirty]


def concurrency(program, runs=8, rounds=10):
    _, clean, clean_out = clean_reference(program)
    problems = []
    for number in range(rounds):
        with machine(program) as root, ThreadPoolExecutor(runs) as pool:
            problems += [f"round {number}: status {status}, output {out!r}"
                         for status, out, _ in pool.map(lambda _: run(root), range(runs))
                         if status != 0 or out != clean_out]
            problems += compare(root, [clean], f"round {number}")
    return problems


def values(text):
    """{(key, name or None): value} as an independent reader sees a file that may be cut off, or
    None when it does not parse. A cut right after a CR still ends the line."""
    if re.fullmatch(rb'(@|"([^"\\]|\\.)*")="\r?', text.rsplit(b"\n", 1)[-1]):
        return None  # a lone quote is no string
    with contextlib.suppress(ValueError):
        keys = rs.parse_reg((text + b"\n" if text.endswith(b"\r") else text).decode("latin-1"))
        return {(key, name): value for key, (path, _, named) in keys.items()
                for name, value in [(None, path), *named.items()]}


def cut_registries(program):
    """Cut at every line end and next to it, and at seeded points, the registry makes the run
    refuse and leave the files (not when cut after a whole line naming the version), or the run
    keeps every value its job does not change."""
    sample, problems = (TOP / "sample" / REG).read_bytes(), []
    # With the version keys first, most cut-off files still name the version and the jobs run.
    at = sample.index(b"[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion]")
    reordered = b"REGEDIT4\r\n\r\n" + sample[at:].rstrip() + b"\r\n\r\n" + sample[12:at]
    version = ("hkey_local_machine\\software\\microsoft\\windows\\currentversion", "versionnumber")
    job = re.compile(r"(forcedconfig|memorybaseaddress|logconfig\\000\d|override)", re.I)
    cuts = {i + d for i, c in enumerate(reordered) if c == 10 for d in (-1, 0, 1)}
    for cut in sorted(cuts | set(random.Random(4).sample(range(len(reordered)), 300))):
        text, what = reordered[:cut], f"registry cut at {cut}"
        before = values(text)
        with machine(program) as root:
            Path(root, REG).write_bytes(text)
            start, (status, out, _) = snapshot(root), run(root, "/D9", "/inst")
            after = values(Path(root, REG).read_bytes()) or {}
            if (status, out) == (1, REFUSAL):
                if snapshot(root) != start or (before and version in before
                                               and re.search(rb"[^\\]\r\n$", text)):
                    problems.append(f"{what}: refused, but it must run, or files changed")
            elif status or not whole_reports(out) or not before or any(
                    after.get((key, name)) != value for (key, name), value in before.items()
                    if not job.search(f"{key}\\{name}")):
                problems.append(f"{what}: status {status}, output {out!r}, or values lost")
    return problems


def padded(head, tail=""):
    """A path of 300 characters to where head + tail leads."""
    fill = 300 - len(head) - len(tail)
    return head + "/." * (fill // 2) + "/" * (fill % 2) + tail


def damaged(program):
    """A file changed before the run ends as the same change to a clean run's result (a job keeps
    every byte it does not change, text mode writes each LF as CR LF), or as it was when the run
    refuses or the job leaves it. Paths of 300 characters make the jobs that meet them report and
    leave their files; without a usable argument 0 the program finds its own file."""
    start, clean, _ = clean_reference(program)

    def edit(rel, change, outcome):  # the run refuses, keeps the file, or does its jobs
        text = change(start[rel][0])
        after = re.sub(rb"\r?\n", b"\r\n", change(clean[rel][0])) if outcome == "does" else text
        files = dict(start if outcome == "refuses" else clean, **{rel: (after, None)})
        return rel, text, None, REFUSAL if outcome == "refuses" else "", files
    big = (b'big \\"value\\" \\\\ ' * 700000)[:10 * 1024 * 1024]
    line = bytes(random.Random(3).choice(b"abc,[]\\\";= ") for _ in range(100000))
    cases = [  # (file, its bytes, run options, output (None: some whole reports), files after)
        edit(REG, lambda t: random.Random(1).randbytes(4096), "refuses"),
        edit(REG, lambda t: b"REGEDIT4\r\n\r\n" + random.Random(2).randbytes(4096), "refuses"),
        edit(REG, lambda t: t.replace(b"dword:00000001", b"dword:0000000x"), "refuses"),
        edit(REG, lambda t: t.replace(b'"Mfg"="Zorvan"\r\n', b'"Mfg"="Zorvan"\r\n"Big"="' + big
                                      + b'"\r\n'), "does"),
        edit(INF, lambda t: t.replace(b"; Resources the card", b"; Resources\0the card\0")
             .replace(b"HKR,,Media,,Ethernet", b"HKR,,Media,,Eth\0ernet"), "does"),
        edit(INF, lambda t: t.replace(b"; Resources the card asks for", b"; " + line)
             .replace(b"[Manufacturer]", b"[Manufacturer]\r\n" + line), "does"),
        edit(INF, lambda t: t.replace(b"\r\n", b"\n"), "does"),
        edit(INF, lambda t: t.replace(b"\r\n", b"\r"), "keeps"),
        edit(INF, lambda t: t.replace(b"\r\n", b" "), "keeps"),
        (None, None, lambda root: {"windir": ""}, REFUSAL, start),
        (None, None, lambda root: {"windir": f"{root}/nowhere"}, REFUSAL, start),
        (None, None, lambda root: {"windir": padded(f"{root}/WINDOWS")}, None,
         dict(start, **{REG: clean[REG]})),
        (None, None, lambda root: {"argv0": padded(f"{root}/disk", "/reg7140")}, None,
         dict(clean, **{DRIVER: start[DRIVER]})),
        (None, None, lambda root: {"argv0": ""}, "", clean),
        (None, None, lambda root: {"argv0": "r" * 300}, "", clean)]
    problems = []
    for number, (rel, text, options, output, expected) in enumerate(cases):
        with machine(program) as root:
            if rel:
                Path(root, rel).write_bytes(text)
            options = options(root) if options else {}
            status, out, _ = run(root, **options)
            what = f"case {number} ({rel or options})"
            if status != (output == REFUSAL) or (
                    out != output if output is not None else not out or not whole_reports(out)):
                problems.append(f"{what}: status {status}, output {out!r}")
            problems += compare(root, [expected], what)
    return problems


def main(program, command, kind=None, capitals=None):
    program = os.path.abspath(program)
    strace = shutil.which("strace") and subprocess.run(["strace", "-o", "/dev/null", "true"])
    if command not in ("concurrency", "malformed") and (not strace or strace.returncode):
        print("SKIP strace is missing or may not trace here")
        return 77
    if command in ("io-errors", "crashes"):
        problems = sweep(program, command, kind, capitals == "capitals")
    else:
        checks = {"durability": [durability], "concurrency": [concurrency],
                  "malformed": [cut_registries, damaged]}[command]
        problems = [problem for check in checks for problem in check(program)]
    print("".join(f"FAIL {problem}\n" for problem in problems) + f"{len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
