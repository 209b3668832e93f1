#!/usr/bin/env python3
"""Whole runs of reg7140 on a copy of the sample machine under the troubles a user meets: a failing
file-system call, a run killed part way, runs at the same time, damaged input.

  reliability.py --program P io-errors KIND  the Nth call of KIND fails with EIO, for each N
  reliability.py --program P crashes KIND    the run is killed at the Nth call of KIND
  reliability.py --program P concurrency     8 runs at once on one machine, several times
  reliability.py --program P malformed       damaged registry and INF files, odd environment
  reliability.py --program P count           how often the program makes each kind of call

After a failed or killed run the registry file holds its bytes from before the run or the bytes a
clean run leaves (it is saved once, whole); the INF file and the driver are the old or the new bytes; no new file
but the INF job's scratch file; and a clean run then ends exactly as a clean run from the start.
The sweeps exit with 77 (skipped) when strace is missing or may not trace.
"""
import argparse
import difflib
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(TOP, "tests", "scenarios"))
import run_scenarios as rs  # noqa: E402

SAMPLE = os.path.join(TOP, "sample")
REG = os.path.join("WINDOWS", "system.reg")
INF = os.path.join("WINDOWS", "inf", "netzor.inf")
SCRATCH = os.path.join("WINDOWS", "inf", "netzor.new")
DRIVER = os.path.join("WINDOWS", "system", "zvnd32.sys")
PROGRAM = os.path.join("disk", "reg7140")
# Git keeps no file times: the installed driver is made the older one, as the demo does.
TIMES = {DRIVER: 830000000, os.path.join("disk", "zvnd32.sys"): 857000000}
# Every kind of file-system call the program makes (`count` lists them); ftruncate only happens
# when a scratch file from an earlier run is there.
KINDS = ["openat", "read", "write", "close", "fsync", "rename", "fchmod", "newfstatat",
         "getdents64", "flock", "lseek", "pread64", "utimensat", "ftruncate"]
# Kinds with more calls than SWEEP_ALL are swept up to it, then at SAMPLE_SIZE seeded calls beyond.
SWEEP_ALL, SAMPLE_SIZE = 400, 100
# A killed run cannot remove the temporary file it was filling; its random name keeps it from
# every later run's way.
KILL_LEFTOVER = re.compile(r"^WINDOWS/(\.system\.reg|system/\.reg7140-copy-)\.?[A-Za-z0-9]{6}$")
REFUSAL = ("reg7140: Errorcode 0 returned from GetVersionEx on line 158\n"
           "This program requires Windows 95\n")
DETAIL = re.compile(r"^reg7140: Errorcode -?\d+ returned from (.+) on line (\d+)$")


def report_sites():
    """(line, label, message) of every report site in the message table."""
    with open(os.path.join(TOP, "app", "report.h"), encoding="utf-8") as f:
        text = f.read()
    needs = re.search(r'kNeedsWindows95 = "([^"]*)"', text).group(1)
    sites = set()
    pattern = r'ReportSite\s+k\w+\{\s*(\d+),\s*"([^"]*)",\s*(kNeedsWindows95|(?:"[^"]*"\s*)+)'
    for m in re.finditer(pattern, text):
        literals = "".join(re.findall(r'"([^"]*)"', m.group(3)))
        message = needs if m.group(3) == "kNeedsWindows95" else literals
        sites.add((int(m.group(1)), m.group(2), message))
    return sites


SITES = report_sites()


def output_problem(out):
    """None when `out` is nothing but whole detailed reports of the message table."""
    lines = out.split("\n")
    if lines[-1]:
        return f"output ends inside a line: {out!r}"
    lines.pop()
    if len(lines) % 2:
        return f"output is not whole reports: {out!r}"
    for detail, message in zip(lines[::2], lines[1::2]):
        m = DETAIL.match(detail)
        if not m or (int(m.group(2)), m.group(1), message) not in SITES:
            return f"not a report: {detail!r} / {message!r}"
    return None


# --- machines, runs and their states ---------------------------------------------------------

def place_program(program, path):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    try:
        os.link(program, path)
    except OSError:
        shutil.copy2(program, path)


# With --capitals the sweeps run on a machine whose INF directory, INF file and installed driver
# are spelled in capitals, so that every write has to find the existing spelling.
CAPITALS = {os.path.join("WINDOWS", "inf", "netzor.inf"): "NETZOR.INF",
            os.path.join("WINDOWS", "inf"): "INF", DRIVER: "ZVND32.SYS"}
capitals = False


def make_machine(root, program):
    shutil.copytree(SAMPLE, root, dirs_exist_ok=True)
    place_program(program, os.path.join(root, PROGRAM))
    for rel, seconds in TIMES.items():
        os.utime(os.path.join(root, rel), (seconds, seconds))
    for rel, name in CAPITALS.items() if capitals else ():
        os.rename(os.path.join(root, rel), os.path.join(root, os.path.dirname(rel), name))


def scratch_file(root):
    return os.path.join(root, "WINDOWS", "INF" if capitals else "inf", "netzor.new")


def run(root, args=("/D9",), strace=None, windir=None, argv0=None):
    """Exit status (negative for a signal) and standard output of one run on the machine."""
    program = os.path.join(root, PROGRAM)
    env = dict(os.environ, WINDIR=os.path.join(root, "WINDOWS") if windir is None else windir)
    command = [program if argv0 is None else argv0, *args]
    if strace:
        command = ["strace", "-f", "-qq", *strace, "--", *command]
    result = subprocess.run(command, executable=None if strace else program, cwd=root, env=env,
                            capture_output=True, timeout=300)
    return result.returncode, result.stdout.decode("latin-1")


def registry(root):
    """{(key, None): key path, (key, value): (name, type, bytes)}, names lower-cased in the keys;
    raises ValueError when the file does not parse."""
    return registry_from_text(rs.registry_text(os.path.join(root, REG)))


def registry_from_text(text):
    flat = {}
    for key, (path, _, values) in rs.parse_reg(text).items():
        flat[(key, None)] = path
        for name, value in values.items():
            flat[(key, name)] = value
    return flat


def files(root):
    """Every file but the program and the registry: bytes, and for the driver its time too."""
    out = {}
    for base, _, names in os.walk(root):
        for name in names:
            path = os.path.join(base, name)
            rel = os.path.relpath(path, root)
            if rel in (PROGRAM, REG):
                continue
            with open(path, "rb") as f:
                data = f.read()
            out[rel] = (data, int(os.stat(path).st_mtime) if rel == DRIVER else None)
    return out


class State:
    def __init__(self, root):
        self.registry = registry(root)
        self.registry_bytes = read(os.path.join(root, REG))
        self.files = files(root)


def clean_reference(program):
    with tempfile.TemporaryDirectory(prefix="reg7140-rel-") as root:
        make_machine(root, program)
        before = State(root)
        status, out = run(root)
        if status != 0 or out:
            raise SystemExit(f"a clean run fails: status {status}, output {out!r}")
        return before, State(root), out


def compare_to(root, allowed, problems, what, killed=False):
    """Each value and file is one of the `allowed` states' (None: absent)."""
    try:
        reg = registry(root)
    except ValueError as error:
        problems.append(f"{what}: system.reg does not parse: {error}")
        reg = None
    if reg is not None and read(os.path.join(root, REG)) not in [s.registry_bytes for s in allowed]:
        problems.append(f"{what}: system.reg is neither the old file nor a finished job's")
    now = files(root)
    for rel in set(now).union(*(s.files for s in allowed)):
        if rel.lower() == SCRATCH.lower() or (killed and KILL_LEFTOVER.match(rel)):
            continue
        got = now.get(rel)
        if got not in [s.files.get(rel) for s in allowed]:
            if got is None:
                label = "missing"
            elif all(rel not in s.files for s in allowed):
                label = "new file"
            else:
                label = "neither the old nor the new content"
            problems.append(f"{what}: {rel}: {label}")


# --- sweeps ------------------------------------------------------------------------------------

def call_count(program, kind):
    with tempfile.TemporaryDirectory(prefix="reg7140-rel-") as root:
        make_machine(root, program)
        if kind == "ftruncate":
            write(scratch_file(root), b"left over from an earlier run\r\n")
        trace = os.path.join(root, "trace")
        run(root, strace=["-e", f"trace={kind}", "-o", trace])
        with open(trace, encoding="latin-1") as f:
            return sum(1 for line in f if re.match(rf"^\d+\s+{kind}\(", line))


def sweep(program, kind, action):
    _, clean, clean_out = clean_reference(program)
    count = call_count(program, kind)
    if count == 0:
        print(f"FAIL the program makes no {kind} call: take it off the list")
        return 1
    calls = list(range(1, min(count, SWEEP_ALL) + 1))
    if count > SWEEP_ALL:
        calls += sorted(random.Random(kind).sample(range(SWEEP_ALL + 1, count + 1),
                                                   min(SAMPLE_SIZE, count - SWEEP_ALL)))
    inject = "error=EIO" if action == "io-errors" else "signal=SIGKILL"
    failures = 0
    for n in calls:
        problems = []
        with tempfile.TemporaryDirectory(prefix="reg7140-rel-") as root, \
                tempfile.NamedTemporaryFile(prefix="reg7140-trace-") as trace:
            make_machine(root, program)
            if kind == "ftruncate":
                write(scratch_file(root), b"left over from an earlier run\r\n")
            start = State(root)
            status, out = run(root, strace=["-o", trace.name, "-e", f"trace={kind}",
                                            "-e", f"inject={kind}:{inject}:when={n}"])
            killed = status == -9 and action == "crashes"
            # The run takes the clean run's way up to the Nth call, so the injection must happen.
            if not (killed or b"(INJECTED)" in trace.read()):
                problems.append("the call was not reached: nothing injected")
            if status < 0 and not killed:
                problems.append(f"ended by signal {-status}")
            elif status not in (0, 1) and not killed and not (status == 127 and not out):
                # 127: the loader could not read a library, and the program never started.
                problems.append(f"exit status {status}")
            if problem := output_problem(out):
                problems.append(problem)
            compare_to(root, [start, clean], problems, "after the run", killed)
            status, out = run(root)
            if status != 0 or out != clean_out:
                problems.append(f"a clean run after it: status {status}, output {out!r}")
            compare_to(root, [clean], problems, "after a clean run", killed)
        for problem in problems:
            print(f"FAIL {kind} call {n}/{count} {action}: {problem}")
        failures += bool(problems)
    print(f"{action} {kind}: {len(calls)} of {count} calls, {failures} failing")
    return 1 if failures else 0


def count_all(program):
    for kind in KINDS:
        print(kind, call_count(program, kind))
    return 0


# --- concurrency -------------------------------------------------------------------------------

def concurrency(program, runs=8, rounds=10):
    _, clean, clean_out = clean_reference(program)
    problems = []
    for round_number in range(rounds):
        with tempfile.TemporaryDirectory(prefix="reg7140-rel-") as root:
            make_machine(root, program)
            env = {k: v for k, v in os.environ.items() if k != "WINDIR"}
            env["WINDIR"] = os.path.join(root, "WINDOWS")
            procs = [subprocess.Popen([os.path.join(root, PROGRAM), "/D9"], env=env, cwd=root,
                                      stdout=subprocess.PIPE) for _ in range(runs)]
            for proc in procs:
                out = proc.communicate(timeout=120)[0].decode("latin-1")
                if proc.returncode != 0 or out != clean_out:
                    problems.append(f"round {round_number}: status {proc.returncode}, "
                                    f"output {out!r}")
            compare_to(root, [clean], problems, f"round {round_number}")
    for problem in problems:
        print("FAIL " + problem)
    print(f"concurrency: {rounds} rounds of {runs} runs, {len(problems)} problems")
    return 1 if problems else 0


# --- malformed input ---------------------------------------------------------------------------

def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def reg_hex(data):
    return ",".join(f"{b:02x}" for b in data)


def replace_in_registry(root, old, new):
    text = read(os.path.join(root, REG))
    assert old in text, old
    write(os.path.join(root, REG), text.replace(old, new, 1))


def expect_refused(root, problems, what, **run_options):
    """The run refuses at the version gate and leaves every file as it was."""
    reg_before = read(os.path.join(root, REG)) if os.path.exists(os.path.join(root, REG)) else None
    before = files(root)
    status, out = run(root, **run_options)
    if status != 1 or out != REFUSAL:
        problems.append(f"{what}: status {status}, output {out!r}")
    now_reg = read(os.path.join(root, REG)) if os.path.exists(os.path.join(root, REG)) else None
    if now_reg != reg_before or files(root) != before:
        problems.append(f"{what}: files changed")


# The values the registry job changes; everything else in the registry must stay.
JOB_VALUES = re.compile(r"(forcedconfig|memorybaseaddress|logconfig\\000\d|override)", re.I)


def parse_prefix(text):
    """The registry in a cut-off file as a reader that keeps every whole value sees it; None when
    it does not parse. A cut right after a CR still ends the line; a lone quote is no string."""
    if re.fullmatch(rb'(@|"([^"\\]|\\.)*")="\r?', text.rsplit(b"\n", 1)[-1]):
        return None
    try:
        text += b"\n" if text.endswith(b"\r") else b""
        return registry_from_text(text.decode("latin-1"))
    except ValueError:
        return None


def registry_cases(program, problems):
    sample_reg = read(os.path.join(SAMPLE, REG))
    # With the version keys first, most cut-off files still name the version, and the jobs run.
    at = sample_reg.index(b"[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion]")
    header = len(b"REGEDIT4\r\n")
    reordered = (sample_reg[:header] + sample_reg[at:].rstrip(b"\r\n") + b"\r\n\r\n"
                 + sample_reg[header:at])
    # Cut at every line end and next to it, and at seeded points in between. The run either
    # refuses and leaves every file as it was, or runs and keeps every value the job does not
    # change; a file cut right after a whole line must run when it names the version.
    cuts = {i + d for i, c in enumerate(reordered) if c == 10 for d in (-1, 0, 1)}
    cuts |= set(random.Random(4).sample(range(len(reordered)), 300))
    version = ("hkey_local_machine\\software\\microsoft\\windows\\currentversion", "versionnumber")
    for cut in sorted(cuts):
        text = reordered[:cut]
        before = parse_prefix(text)
        must_run = (before is not None and version in before and text.endswith(b"\n")
                    and not text.endswith(b"\\\r\n"))
        with tempfile.TemporaryDirectory(prefix="reg7140-rel-") as root:
            make_machine(root, program)
            write(os.path.join(root, REG), text)
            old_files = files(root)
            status, out = run(root, args=("/D9", "/inst"))
            what = f"registry cut at {cut}"
            if status == 1 and out == REFUSAL and not must_run:
                if read(os.path.join(root, REG)) != text or files(root) != old_files:
                    problems.append(f"{what}: refused, but files changed")
            elif status != 0 or output_problem(out) or before is None:
                problems.append(f"{what}: status {status}, output {out!r}")
            else:
                after = parse_prefix(read(os.path.join(root, REG))) or {}
                for item, value in before.items():
                    job_value = JOB_VALUES.search(item[0] + "\\" + (item[1] or ""))
                    if not job_value and after.get(item) != value:
                        problems.append(f"{what}: {item} lost")

    damaged = {
        "binary garbage": random.Random(1).randbytes(4096),
        "garbage after the header": b"REGEDIT4\r\n\r\n" + random.Random(2).randbytes(4096),
        "bad hex digit": sample_reg.replace(b'"ConfigFlags"=hex:00,00,00,00',
                                            b'"ConfigFlags"=hex:00,0g,00,00'),
        "three-digit hex byte": sample_reg.replace(b'"ConfigFlags"=hex:00,00,00,00',
                                                   b'"ConfigFlags"=hex:00,000,00'),
        "bad dword": sample_reg.replace(b'"Boot"=dword:00000001', b'"Boot"=dword:0000000x'),
        "bad hex type": sample_reg.replace(b'"ConfigFlags"=hex:', b'"ConfigFlags"=hex(zz):'),
        "unterminated string": sample_reg.replace(b'"Mfg"="Zorvan"', b'"Mfg"="Zorvan'),
        "unterminated name": sample_reg.replace(b'"Mfg"="Zorvan"', b'"Mfg="Zorvan"'),
        "key line without its bracket": sample_reg.replace(
            b"[HKEY_LOCAL_MACHINE\\Enum\\PCMCIA]", b"[HKEY_LOCAL_MACHINE\\Enum\\PCMCIA"),
    }
    for what, text in damaged.items():
        if text == sample_reg:
            raise SystemExit(f"{what}: the sample registry no longer has the text to damage")
        with tempfile.TemporaryDirectory(prefix="reg7140-rel-") as root:
            make_machine(root, program)
            write(os.path.join(root, REG), text)
            expect_refused(root, problems, what)

    # 10 MB in one value, escapes included: the run succeeds and the value stays intact.
    big = (b'big \\"value\\" \\\\ ' * 700000)[:10 * 1024 * 1024]
    with tempfile.TemporaryDirectory(prefix="reg7140-rel-") as root:
        make_machine(root, program)
        replace_in_registry(root, b'"Mfg"="Zorvan"\r\n',
                            b'"Mfg"="Zorvan"\r\n"Big"="' + big + b'"\r\n')
        status, out = run(root)
        after = registry(root)
        key = "hkey_local_machine\\enum\\pcmcia\\zorvan-nr_32/8_kv-61c7\\0"
        value = after.pop((key, "big"), None)
        if status != 0 or out or value != ("Big", 1, rs.unescape(big.decode()).encode() + b"\0"):
            problems.append(f"10 MB value: status {status}, output {out!r}, "
                            f"value kept: {value is not None}")
        _, clean, _ = clean_reference(program)
        if after != clean.registry:
            problems.append("10 MB value: the rest of the registry differs from a clean run's")


def forced_config_walk(value):
    """The offsets the job's record walk visits: record lengths are the low bytes at each offset."""
    offsets, offset, length = [], 8, min(len(value), 256)
    while offset < length:
        offsets.append(offset)
        if value[offset] == 0:
            break
        offset += value[offset]
    return offsets, offset


def forced_config_cases(program, problems):
    key = "hkey_local_machine\\enum\\pcmcia\\zorvan-nr_32/8_kv-61c7\\0"
    # The record a clean run puts into the sample's value.
    before, clean, _ = clean_reference(program)
    old, new = (state.registry[(key, "forcedconfig")][2] for state in (before, clean))
    at = next(i for i in range(len(old) + 1)
              if new[:i] + new[i + 52:] == old and new[i:i + 5] == b"\x34\0\0\0\x01")
    window, grown_count = new[at:at + 52], 0
    generator = random.Random(7140)
    for length in range(301):
        value = generator.randbytes(length)
        with tempfile.TemporaryDirectory(prefix="reg7140-rel-") as root:
            make_machine(root, program)
            text = read(os.path.join(root, REG))
            start = text.index(b'"ForcedConfig"=')
            end = text.index(b'"ConfigFlags"', start)
            write(os.path.join(root, REG),
                  text[:start] + f'"ForcedConfig"=hex:{reg_hex(value)}\r\n'.encode() + text[end:])
            grown = []
            for _ in range(2):
                status, out = run(root, args=("/D9", "/inst"))
                if status != 0 or output_problem(out):
                    problems.append(f"ForcedConfig of {length}: status {status}, output {out!r}")
                grown.append(registry(root)[(key, "forcedconfig")][2])
            first, second = grown
            if len(first) not in (length, length + 52):
                problems.append(f"ForcedConfig of {length}: became {len(first)} bytes")
                continue
            if len(first) == length:
                if first != value or second != value:
                    problems.append(f"ForcedConfig of {length}: changed without growing")
                continue
            offsets, walk_end = forced_config_walk(value)
            places = [i for i in offsets + [length, walk_end]
                      if first[:i] + first[i + 52:] == value and first[i:i + 52] == window]
            if not places:
                problems.append(f"ForcedConfig of {length}: not grown by the window record at a "
                                f"record start")
                continue
            # The next walk finds the record unless it was put at the end, where no walk step lands.
            if second != first and (len(second) != length + 104
                                    or all(i in offsets or i == walk_end for i in places)):
                problems.append(f"ForcedConfig of {length}: a second run grew it again")
            grown_count += 1
    print(f"ForcedConfig: {grown_count} of 301 random values grown")


def inserted_blocks(program):
    """The texts a clean run inserts into the sample INF file."""
    old = read(os.path.join(SAMPLE, INF)).splitlines(keepends=True)
    _, clean, _ = clean_reference(program)
    new = clean.files[INF][0].splitlines(keepends=True)
    matcher = difflib.SequenceMatcher(a=old, b=new, autojunk=False)
    blocks = [b"".join(new[j1:j2]) for op, _, _, j1, j2 in matcher.get_opcodes() if op == "insert"]
    assert all(op in ("equal", "insert") for op, *_ in matcher.get_opcodes())
    return blocks


def inf_cases(program, problems):
    blocks = inserted_blocks(program)
    sample = read(os.path.join(SAMPLE, INF))
    long_line = b"; " + bytes(random.Random(3).choice(b"abc,[]\\\";= ") for _ in range(100000))
    cases = {  # name: (INF bytes, whether the job commits)
        "NUL bytes": (sample.replace(b"; Resources the card asks for",
                                     b"; Resources\0the card\0asks for").replace(
            b"HKR,,Media,,Ethernet", b"HKR,,Media,,Eth\0ernet"), True),
        "100,000-character lines": (
            sample.replace(b"; Resources the card asks for", long_line).replace(
                b"[Manufacturer]", b"[Manufacturer]\r\n" + long_line[2:]), True),
        "CR-only line ends": (sample.replace(b"\r\n", b"\r"), False),
        "no line ends": (sample.replace(b"\r\n", b" "), False),
        "LF-only line ends": (sample.replace(b"\r\n", b"\n"), True),
    }
    for what, (text, commits) in cases.items():
        with tempfile.TemporaryDirectory(prefix="reg7140-rel-") as root:
            make_machine(root, program)
            write(os.path.join(root, INF), text)
            status, out = run(root)
            if status != 0 or out:
                problems.append(f"INF with {what}: status {status}, output {out!r}")
            now = read(os.path.join(root, INF))
            if not commits:
                if now != text:
                    problems.append(f"INF with {what}: changed")
                continue
            stripped = now
            for block in blocks:
                stripped = stripped.replace(block, b"", 1)
            # Text mode writes every line feed as CR LF.
            if stripped != re.sub(rb"\r?\n", b"\r\n", text) or now == text:
                problems.append(f"INF with {what}: not the old text with the entries inserted")


def environment_cases(program, problems):
    _, clean, clean_out = clean_reference(program)
    with tempfile.TemporaryDirectory(prefix="reg7140-rel-") as root:
        make_machine(root, program)
        expect_refused(root, problems, "WINDIR empty", windir="")
        nowhere = os.path.join(root, "nowhere")
        expect_refused(root, problems, "WINDIR pointing nowhere", windir=nowhere)
        if os.path.exists(nowhere):
            problems.append("WINDIR pointing nowhere: the directory was made")
    with tempfile.TemporaryDirectory(prefix="reg7140-rel-") as root:
        # The Windows directory under a 300-character path: the registry job runs, the two file
        # jobs refuse the long paths.
        deep = root
        while len(deep) < 300 - 70:
            deep = os.path.join(deep, "d" * 50)
        deep = os.path.join(deep, "w" * (300 - len(deep) - len("/WINDOWS") - 1))
        make_machine(deep, program)
        before = State(deep)
        windir = os.path.join(deep, "WINDOWS")
        status, out = run(deep, windir=windir)
        expected = ("reg7140: Errorcode 206 returned from getenv on line 482\n"
                    "Path to NETZOR.INF file too long.\n")
        if len(windir) + len("\\system\\zvnd32.sys") >= 256:
            expected += ("reg7140: Errorcode 206 returned from stat on line 832\n"
                         "Path to driver file too long.\n")
        if status != 0 or out != expected:
            problems.append(f"WINDIR of {len(windir)} characters: status {status}, output {out!r}")
        if registry(deep) != clean.registry or files(deep) != before.files:
            problems.append(f"WINDIR of {len(windir)} characters: not just the registry job done")

    for what, argv0 in {"empty": "", "a bare name of 300": "r" * 300}.items():
        with tempfile.TemporaryDirectory(prefix="reg7140-rel-") as root:
            make_machine(root, program)
            status, out = run(root, argv0=argv0)
            if status != 0 or out != clean_out:
                problems.append(f"argument 0 {what}: status {status}, output {out!r}")
            compare_to(root, [clean], problems, f"argument 0 {what}")
    with tempfile.TemporaryDirectory(prefix="reg7140-rel-") as root:
        make_machine(root, program)
        before = State(root)
        fill = 300 - len(os.path.join(root, "disk")) - len("/reg7140")
        argv0 = os.path.join(root, "disk") + "/." * (fill // 2) + "/" * (fill % 2) + "/reg7140"
        status, out = run(root, argv0=argv0)
        if status != 0 or out != ("reg7140: Errorcode 206 returned from stat on line 832\n"
                                  "Path to driver file too long.\n"):
            problems.append(f"argument 0 of 300 characters: status {status}, output {out!r}")
        if files(root)[DRIVER] != before.files[DRIVER]:
            problems.append("argument 0 of 300 characters: the driver changed")


def malformed(program):
    problems = []
    # DRIVER values of 300 characters or without a zero byte, and WINDIR unset, are scenarios.
    for cases in (registry_cases, forced_config_cases, inf_cases, environment_cases):
        cases(program, problems)
    for problem in problems:
        print("FAIL " + problem)
    print(f"malformed: {len(problems)} problems")
    return 1 if problems else 0


def strace_works():
    if shutil.which("strace") is None:
        return False
    probe = subprocess.run(["strace", "-o", "/dev/null", "true"], capture_output=True)
    return probe.returncode == 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("command",
                        choices=["io-errors", "crashes", "concurrency", "malformed", "count"])
    parser.add_argument("kind", nargs="?", choices=KINDS)
    parser.add_argument("--capitals", action="store_true", help="sweep a machine with capitals")
    options = parser.parse_args()
    global capitals
    capitals = options.capitals
    program = os.path.abspath(options.program)
    if options.command in ("io-errors", "crashes", "count") and not strace_works():
        print("SKIP strace is missing or may not trace here")
        return 77
    if options.command in ("io-errors", "crashes"):
        if not options.kind:
            parser.error("which kind of call?")
        return sweep(program, options.kind, options.command)
    if options.command == "count":
        return count_all(program)
    return concurrency(program) if options.command == "concurrency" else malformed(program)


if __name__ == "__main__":
    sys.exit(main())
