#!/usr/bin/env python3
"""Runs reg7140 on scenario machines and compares what it printed and left behind.

A scenario is a directory:
  scenario.txt   key=value lines (see SETTINGS below)
  machine/       the machine before the run: WINDOWS/ (system.reg without version keys,
                 inf/, system/) and the source disk disk/
  stdout.txt     standard output expected at reporting level 9 (or for `args` as given)
  expect/        files expected after the run, relative to the machine; expect/WINDOWS/system.reg
                 is compared by content (keys, value names, types, bytes), every other file byte
                 for byte. Without expect/WINDOWS/system.reg the registry must be unchanged.

The Windows version is a property of the scenario; each backend maps it onto its machine.

A backend provides prepare(root, settings) and run(root, settings, args) -> (status, stdout),
registry(root) and filter_registry(parsed) (the part of a registry that it compares),
path(root, rel) (where the machine's file `rel` lies) and snapshot(root) (the machine's files),
and compare_classes. The posix backend runs the program on `root` itself; the wine backend
(wine_backend.py) runs the Windows build on a Wine prefix that `root` is copied into.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

SETTINGS = {
    "args": "",          # arguments; {level} is replaced by each of `levels`
    "levels": "",        # e.g. 0,1,9: run once per level, deriving the output from stdout.txt
    "version": "win95",  # win95, win98, nt40, win2k; on POSIX also none (no version keys)
    "exit": "0",
    "program": "disk/reg7140",  # where the program lies and is started from, in the machine
    "argv0": "",         # argument 0 as given to the program; empty: the program's full path
    "windir": "WINDOWS", # the Windows directory in the machine; "unset" leaves WINDIR unset
    "readonly": "",      # comma-separated files made read-only before the run
    "mtime": "",         # comma-separated file=seconds pairs set before the run
    "rerun": "no",       # yes: a second run must change nothing
    "absent": "",        # comma-separated files that must not exist after the run
    "writable": "",      # comma-separated files that must not be read-only after the run
    "backends": "posix,wine",
}

VERSION_KEYS = {
    "win95": '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion]\r\n'
             '"VersionNumber"="4.00.950"\r\n',
    "win98": '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion]\r\n'
             '"VersionNumber"="4.10.1998"\r\n',
    "nt40": '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion]\r\n'
            '"CurrentVersion"="4.0"\r\n',
    "win2k": '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion]\r\n'
             '"CurrentVersion"="5.0"\r\n',
    "none": "",
}

DETAIL = re.compile(r"^reg7140: Errorcode -?\d+ returned from .* on line \d+$")


def read_settings(directory):
    settings = dict(SETTINGS)
    path = os.path.join(directory, "scenario.txt")
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            key, sep, value = line.partition("=")
            if not sep or key not in SETTINGS:
                raise SystemExit(f"{path}:{number}: unknown setting {line!r}")
            settings[key] = value
    return settings


def split_list(text):
    return [item.strip() for item in text.split(",") if item.strip()]


def output_at_level(detailed, level):
    """The output at `level`, from the output at level 9: reports lose their first line at
    levels 1 to 8 and print nothing at 0; the usage text prints at every level."""
    if level == 9:
        return detailed
    lines = detailed.split("\n")
    out = []
    skip_next = False
    for line in lines:
        if skip_next:
            skip_next = False
            continue
        if DETAIL.match(line):
            if level == 0:
                skip_next = True
            continue
        out.append(line)
    return "\n".join(out)


# --- REGEDIT4/REGEDIT5 reading, independent of the program's own reader ---------------------

def parse_reg(text):
    """Returns {lower key path: (path, class or None, {lower name: (name, type, bytes)})},
    with implied parent keys present. String data is given as the ANSI bytes a program reads."""
    lines = text.replace("\r\n", "\n").split("\n")
    if not lines or lines[0].strip() not in ("REGEDIT4", "Windows Registry Editor Version 5.00"):
        raise ValueError("not a registry file")
    wide = lines[0].strip() != "REGEDIT4"
    keys = {}
    current = None
    pending = ""

    def add_key(path):
        parts = path.split("\\")
        for i in range(1, len(parts) + 1):
            sub = "\\".join(parts[:i])
            keys.setdefault(sub.lower(), [sub, None, {}])
        return keys[path.lower()]

    index = 1
    while index < len(lines):
        line = lines[index]
        index += 1
        if pending:
            line = pending + line.strip()
            pending = ""
        if line.endswith("\\") and current is not None and "=hex" in line:
            pending = line[:-1]
            continue
        if not line.strip():
            continue
        if line.startswith(";"):
            m = re.match(r'^;class="(.*)"$', line)
            if m and current is not None:
                current[1] = unescape(m.group(1))
            continue
        if line.startswith("["):
            if not line.endswith("]"):
                raise ValueError(f"bad key line {line!r}")
            current = add_key(line[1:-1])
            continue
        if current is None:
            raise ValueError(f"value outside a key: {line!r}")
        name, data = split_value(line)
        current[2][name.lower()] = (name, *decode_data(data, wide))
    return {k: (v[0], v[1], v[2]) for k, v in keys.items()}


def unescape(text):
    return re.sub(r"\\(.)", r"\1", text)


def split_value(line):
    if line.startswith("@="):
        return "", line[2:]
    m = re.match(r'^"((?:[^"\\]|\\.)*)"=(.*)$', line)
    if not m:
        raise ValueError(f"bad value line {line!r}")
    return unescape(m.group(1)), m.group(2)


# Types whose hex data is UTF-16LE text in a REGEDIT5 file: REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ.
WIDE_TEXT_TYPES = (1, 2, 7)


def decode_data(data, wide=False):
    if data.startswith('"'):
        if not data.endswith('"'):
            raise ValueError(f"bad string {data!r}")
        return 1, unescape(data[1:-1]).encode("latin-1") + b"\0"
    if data.startswith("dword:"):
        return 4, int(data[6:], 16).to_bytes(4, "little")
    m = re.match(r"^hex(?:\(([0-9a-fA-F]+)\))?:(.*)$", data)
    if not m:
        raise ValueError(f"bad data {data!r}")
    kind = int(m.group(1), 16) if m.group(1) else 3
    body = m.group(2).replace(" ", "")
    raw = bytes(int(b, 16) for b in body.split(",") if b)
    if wide and kind in WIDE_TEXT_TYPES and len(raw) % 2 == 0:
        raw = raw.decode("utf-16-le").encode("latin-1", "replace")
    return kind, raw


def registry_text(path):
    if not os.path.exists(path):
        return "REGEDIT4\r\n\r\n"
    with open(path, "rb") as f:
        raw = f.read()
    if raw.startswith(b"\xff\xfe"):
        return raw[2:].decode("utf-16-le")
    return raw.decode("latin-1")


def describe_difference(expected, actual, compare_classes):
    problems = []
    for key in sorted(set(expected) | set(actual)):
        if key not in actual:
            problems.append(f"missing key {expected[key][0]}")
            continue
        if key not in expected:
            problems.append(f"unexpected key {actual[key][0]}")
            continue
        e_path, e_class, e_values = expected[key]
        a_path, a_class, a_values = actual[key]
        if compare_classes and e_class != a_class:
            problems.append(f"class of {e_path}: expected {e_class!r}, got {a_class!r}")
        for name in sorted(set(e_values) | set(a_values)):
            e, a = e_values.get(name), a_values.get(name)
            if e != a:
                problems.append(f"{e_path} value {name!r}: expected {fmt(e)}, got {fmt(a)}")
    return problems


def fmt(value):
    if value is None:
        return "nothing"
    name, kind, data = value
    return f"{name!r} type {kind} [{data.hex(' ')}]"


# --- the POSIX backend -----------------------------------------------------------------------

class PosixBackend:
    compare_classes = True

    def __init__(self, program):
        self.program = os.path.abspath(program)

    def path(self, root, rel):
        return os.path.join(root, rel)

    def snapshot(self, root):
        return snapshot_files(root)

    def filter_registry(self, parsed):
        return parsed

    def prepare(self, root, settings):
        windir = os.path.join(root, "WINDOWS")
        os.makedirs(windir, exist_ok=True)
        reg = os.path.join(windir, "system.reg")
        text = registry_text(reg) if os.path.exists(reg) else "REGEDIT4\r\n\r\n"
        injected = VERSION_KEYS[settings["version"]]
        if injected:
            if not text.endswith("\n"):
                text += "\r\n"
            with open(reg, "wb") as f:
                f.write((text + "\r\n" + injected).encode("latin-1"))

    def run(self, root, settings, args):
        program_path = os.path.join(root, settings["program"])
        os.makedirs(os.path.dirname(program_path), exist_ok=True)
        shutil.copy2(self.program, program_path)
        env = dict(os.environ)
        env.pop("WINDIR", None)
        if settings["windir"] != "unset":
            env["WINDIR"] = os.path.join(root, settings["windir"])
        argv0 = settings["argv0"] or program_path
        result = subprocess.run([argv0] + args, executable=program_path, cwd=root, env=env,
                                capture_output=True, timeout=60)
        return result.returncode, result.stdout.decode("latin-1")

    def registry(self, root):
        path = os.path.join(root, "WINDOWS", "system.reg")
        try:
            return parse_reg(registry_text(path))
        except ValueError:
            # A registry the program cannot read must stay exactly as it was.
            with open(path, "rb") as f:
                return {"unreadable": ("unreadable", None, {"": ("", 3, f.read())})}


def expected_registry(directory, backend_root, settings, prepared_before):
    path = os.path.join(directory, "expect", "WINDOWS", "system.reg")
    if not os.path.exists(path):
        return prepared_before
    text = registry_text(path)
    injected = VERSION_KEYS[settings["version"]]
    return parse_reg(text + "\r\n" + injected)


def snapshot_files(root):
    files = {}
    for base, _, names in os.walk(root):
        for name in names:
            path = os.path.join(base, name)
            with open(path, "rb") as f:
                files[os.path.relpath(path, root)] = (f.read(), int(os.stat(path).st_mtime))
    return files


def contents(backend, root):
    """The files' bytes; a second run rewrites some files with the same bytes, and leaves a
    scratch copy of the INF file that it had nothing to insert into."""
    return {rel: data for rel, (data, _) in backend.snapshot(root).items()
            if os.path.basename(rel).lower() != "netzor.new"}


def run_scenario(directory, backend, backend_name):
    """True when the scenario passed, False when it failed, None when it is not for the
    backend."""
    settings = read_settings(directory)
    if backend_name not in split_list(settings["backends"]):
        print(f"SKIP {directory}: not for the {backend_name} backend")
        return None
    with open(os.path.join(directory, "stdout.txt"), encoding="latin-1") as f:
        detailed = f.read()
    levels = [int(x) for x in split_list(settings["levels"])] or [None]
    failures = []
    for level in levels:
        args = settings["args"].replace("{level}", str(level)).split()
        expected_out = detailed if level is None else output_at_level(detailed, level)
        label = os.path.basename(os.path.normpath(directory)) + ("" if level is None else f" at level {level}")
        with tempfile.TemporaryDirectory(prefix="reg7140-scenario-") as root:
            machine = os.path.join(directory, "machine")
            if os.path.isdir(machine):
                shutil.copytree(machine, root, dirs_exist_ok=True)
            backend.prepare(root, settings)
            for pair in split_list(settings["mtime"]):
                name, _, seconds = pair.partition("=")
                os.utime(backend.path(root, name), (int(seconds), int(seconds)))
            for name in split_list(settings["readonly"]):
                path = backend.path(root, name)
                os.chmod(path, os.stat(path).st_mode & ~0o222)
            before = backend.filter_registry(backend.registry(root))
            status, out = backend.run(root, settings, args)
            if out != expected_out:
                failures.append(f"{label}: standard output differs\n--- expected\n{expected_out}"
                                f"--- got\n{out}---")
            if status != int(settings["exit"]):
                failures.append(f"{label}: exit status {status}, expected {settings['exit']}")
            expected_reg = backend.filter_registry(
                expected_registry(directory, root, settings, before))
            after = backend.filter_registry(backend.registry(root))
            problems = describe_difference(expected_reg, after, backend.compare_classes)
            failures += [f"{label}: registry: {p}" for p in problems]
            expect_dir = os.path.join(directory, "expect")
            for rel, (data, _) in (snapshot_files(expect_dir).items()
                                   if os.path.isdir(expect_dir) else []):
                if rel == os.path.join("WINDOWS", "system.reg"):
                    continue
                path = backend.path(root, rel)
                if not os.path.exists(path):
                    failures.append(f"{label}: {rel} missing")
                    continue
                with open(path, "rb") as f:
                    got = f.read()
                if got != data:
                    failures.append(f"{label}: {rel} differs: expected {data!r}, got {got!r}")
            for rel in split_list(settings["absent"]):
                if os.path.exists(backend.path(root, rel)):
                    failures.append(f"{label}: {rel} should not exist")
            for rel in split_list(settings["writable"]):
                path = backend.path(root, rel)
                # The owner's write bit stands for the read-only attribute, as on every backend.
                if not os.path.exists(path) or not os.stat(path).st_mode & 0o200:
                    failures.append(f"{label}: {rel} should exist and not be read-only")
            if settings["rerun"] == "yes":
                files = contents(backend, root)
                backend.run(root, settings, args)
                if contents(backend, root) != files:
                    failures.append(f"{label}: a second run changed files")
                problems = describe_difference(after,
                                               backend.filter_registry(backend.registry(root)),
                                               backend.compare_classes)
                failures += [f"{label}: second run changed the registry: {p}" for p in problems]
    for failure in failures:
        print("FAIL " + failure)
    if not failures:
        print(f"ok {directory}")
    return not failures


# Exit status of a run that could not be made here (CTest's SKIP_RETURN_CODE).
SKIPPED = 77


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--backend", choices=["posix", "wine"], default="posix")
    parser.add_argument("--program", required=True)
    parser.add_argument("scenarios", nargs="+")
    options = parser.parse_args()
    if options.backend == "posix":
        backend = PosixBackend(options.program)
    else:
        import wine_backend  # noqa: E402, the Windows build's runner
        reason = wine_backend.unavailable()
        if reason:
            print(f"skipped: {reason}")
            return SKIPPED
        backend = wine_backend.WineBackend(options.program)
    results = [run_scenario(d, backend, options.backend) for d in options.scenarios]
    if all(result is None for result in results):
        return SKIPPED
    return 1 if False in results else 0


if __name__ == "__main__":
    sys.exit(main())
