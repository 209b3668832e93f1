"""The Wine backend of run_scenarios.py: runs the Windows build of reg7140 (the x86_64 program;
32-bit programs cannot run on these machines) under Wine, on a Wine prefix that all scenarios
share one after another.

A scenario's machine maps onto the prefix so:
  WINDOWS/...   C:\\windows\\... (drive_c/windows), the Windows directory that Wine sets WINDIR to
  disk/...      C:\\disk\\... (drive_c/disk), the source disk the program is copied to and run from
  system.reg    not a file: its keys under HKLM\\Enum\\PCMCIA and HKLM\\System\\CurrentControlSet\\
                Services\\Class are imported into the prefix's registry, and only those subtrees
                are compared afterwards (class strings are not: the export format has none)
The scenario's version becomes the value Version of HKCU\\Software\\Wine. The program is started
by its Windows path, or, with a bare name as argument 0, by the command interpreter, which finds
it along PATH (WINEPATH names its directory); Wine itself would pass the full path as argument 0.

The prefix is WINEPREFIX when it is set, otherwise wine-prefix beside the program; it is created
on first use. What one scenario leaves in the prefix (files, directories, registry keys) is
removed before the next one starts; the prefix keeps a record of it in reg7140-tier.json.
"""
import json
import ntpath
import os
import shutil
import subprocess
import sys
import tempfile

import run_scenarios

CROSS_COMPILER = "x86_64-w64-mingw32-g++-win32"
WINE = "wine"

HKLM = "HKEY_LOCAL_MACHINE"
PCMCIA = HKLM + "\\Enum\\PCMCIA"
CLASS = HKLM + "\\System\\CurrentControlSet\\Services\\Class"
SUBTREES = (PCMCIA, CLASS)

WINE_VERSIONS = {"win95": "win95", "win98": "win98", "nt40": "nt40", "win2k": "win2k"}

# Where each top-level directory of a scenario's machine lies in the prefix.
DRIVE_C = "drive_c"
MAPPED_TOPS = {"WINDOWS": ("windows",), "disk": ("disk",)}
# Directories whose files a run may create or change; the rerun check compares them.
WATCHED = (("WINDOWS", "inf"), ("WINDOWS", "system"), ("disk",))
# Names the program gives the files it creates beside the INF file and the driver file: the
# scratch copy netzor.new and the temporary and backup names netzor.t00, zvnd32.b00...
LEFTOVER_PREFIXES = ("netzor.", "zvnd32.")

# What reg export answers for a key that does not exist (its exit status is 1 for any failure).
MISSING_KEY = "Unable to find the specified registry key"

# Characters that the command interpreter reads itself rather than passing them on.
CMD_SPECIAL = '&|<>^%"()'

STATE_FILE = "reg7140-tier.json"
WORK_DIR = "reg7140-tier"  # under drive_c: the registry files that reg imports and exports
RUN_TIMEOUT = 120
# Now and then one of Wine's registry tools fails without a word; the harness's own imports and
# exports are tried again (the program's runs never are).
TOOL_ATTEMPTS = 3


def unavailable():
    """Why the tier cannot run here, or None."""
    if shutil.which(WINE) is None:
        return "wine is not installed"
    if shutil.which(CROSS_COMPILER) is None:
        return f"{CROSS_COMPILER} is not installed"
    return None


def wine_environment(prefix):
    env = dict(os.environ)
    env.update(WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    # The program's Windows directory is Wine's own C:\windows; a WINDIR of the host's
    # environment must not reach it.
    for name in list(env):
        if name.upper() == "WINDIR":
            del env[name]
    return env


def default_prefix(program):
    return os.environ.get("WINEPREFIX") or os.path.join(
        os.path.dirname(os.path.abspath(program)), "wine-prefix")


def ensure_prefix(prefix):
    """Creates the prefix when it does not exist yet."""
    if os.path.exists(os.path.join(prefix, "system.reg")):
        return
    os.makedirs(prefix, exist_ok=True)
    subprocess.run(["wineboot", "-i"], env=wine_environment(prefix), check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600)


def in_subtrees(path):
    lower = path.lower()
    return any(lower == root.lower() or lower.startswith(root.lower() + "\\") for root in SUBTREES)


def filter_subtrees(parsed):
    return {key: entry for key, entry in parsed.items() if in_subtrees(entry[0])}


def class_tops(parsed):
    """The names of the keys right under the class key, as spelled in `parsed`."""
    tops = {}
    for path, _, _ in parsed.values():
        if path.lower().startswith(CLASS.lower() + "\\"):
            top = path[len(CLASS) + 1:].split("\\")[0]
            tops.setdefault(top.lower(), top)
    return tops


def escape(text):
    return text.replace("\\", "\\\\").replace('"', '\\"')


def hex_list(data):
    return ",".join(f"{b:02x}" for b in data)


def value_line(name, kind, data):
    """One REGEDIT4 value line that imports as exactly this type and these bytes."""
    head = "@" if name == "" else f'"{escape(name)}"'
    text = data[:-1]
    if (kind == 1 and data.endswith(b"\0") and b"\0" not in text
            and all(0x20 <= b < 0x7f or b >= 0xa0 for b in text)):
        return f'{head}="{escape(text.decode("latin-1"))}"'
    if kind == 4 and len(data) == 4:
        return f"{head}=dword:{int.from_bytes(data, 'little'):08x}"
    if kind == 3:
        return f"{head}=hex:{hex_list(data)}"
    return f"{head}=hex({kind:x}):{hex_list(data)}"


def import_text(parsed, delete_keys, wine_version):
    """A REGEDIT4 file that deletes `delete_keys`, sets Wine's Windows version and creates the
    scenario's keys under the compared subtrees."""
    lines = ["REGEDIT4", ""]
    for key in delete_keys:
        lines += [f"[-{key}]", ""]
    lines += ["[HKEY_CURRENT_USER\\Software\\Wine]", f'"Version"="{wine_version}"', ""]
    for path, _, values in filter_subtrees(parsed).values():
        lines.append(f"[{path}]")
        lines += [value_line(*value) for value in values.values()]
        lines.append("")
    return "\r\n".join(lines) + "\r\n"


class WineBackend:
    compare_classes = False

    def __init__(self, program, prefix=None):
        self.program = os.path.abspath(program)
        self.prefix = os.path.abspath(prefix or default_prefix(program))
        self.env = wine_environment(self.prefix)
        self.drive_c = os.path.join(self.prefix, DRIVE_C)
        self.work = os.path.join(self.drive_c, WORK_DIR)
        # The registry as imported, until the program runs.
        self.imported = None

    # --- paths -------------------------------------------------------------------------------

    def path(self, root, rel):
        """The host path in the prefix of the machine's file `rel`."""
        parts = rel.replace("\\", "/").split("/")
        if parts[0] not in MAPPED_TOPS:
            raise SystemExit(f"{rel}: the Wine backend maps only {', '.join(MAPPED_TOPS)}")
        return os.path.join(self.drive_c, *MAPPED_TOPS[parts[0]], *parts[1:])

    def windows_path(self, rel):
        """The path as the program sees it, C:\\..."""
        host = self.path(None, rel)
        return "C:\\" + os.path.relpath(host, self.drive_c).replace("/", "\\")

    def snapshot(self, root):
        files = {}
        for watched in WATCHED:
            base = self.path(root, "/".join(watched))
            for directory, _, names in os.walk(base):
                for name in names:
                    host = os.path.join(directory, name)
                    rel = os.path.join(*watched, os.path.relpath(host, base))
                    with open(host, "rb") as f:
                        files[os.path.normpath(rel)] = (f.read(), int(os.stat(host).st_mtime))
        return files

    # --- state between scenarios ---------------------------------------------------------------

    def load_state(self):
        try:
            with open(os.path.join(self.prefix, STATE_FILE), encoding="utf-8") as f:
                return json.load(f)
        except FileNotFoundError:
            return {"files": [], "dirs": [], "class_keys": []}

    def save_state(self, state):
        with open(os.path.join(self.prefix, STATE_FILE), "w", encoding="utf-8") as f:
            json.dump(state, f, indent=1)

    def clear_files(self, state):
        """Removes what earlier scenarios placed or the program created, and nothing of Wine's."""
        for host in state["files"]:
            if os.path.lexists(host):
                os.chmod(host, 0o644)
                os.remove(host)
        shutil.rmtree(self.path(None, "disk"), ignore_errors=True)
        for watched in WATCHED[:-1]:
            base = self.path(None, "/".join(watched))
            if not os.path.isdir(base):
                continue
            for name in os.listdir(base):
                host = os.path.join(base, name)
                if name.lower().startswith(LEFTOVER_PREFIXES) and os.path.isfile(host):
                    os.chmod(host, 0o644)
                    os.remove(host)
        for host in sorted(state["dirs"], key=len, reverse=True):
            if os.path.isdir(host) and not os.listdir(host):
                os.rmdir(host)

    def place_files(self, root, state):
        """Copies the machine's files (all but system.reg) into the prefix."""
        for directory, dirs, names in os.walk(root):
            dirs.sort()
            rel_dir = os.path.relpath(directory, root)
            if rel_dir == ".":
                continue
            target_dir = self.path(root, rel_dir)
            if not os.path.isdir(target_dir):
                os.makedirs(target_dir)
                state["dirs"].append(target_dir)
            for name in sorted(names):
                rel = os.path.join(rel_dir, name)
                if rel == os.path.join("WINDOWS", "system.reg"):
                    continue
                target = self.path(root, rel)
                if os.path.exists(target) and target not in state["files"]:
                    raise SystemExit(f"{rel}: would overwrite Wine's own {target}")
                shutil.copy2(os.path.join(root, rel), target)
                state["files"].append(target)

    # --- the registry --------------------------------------------------------------------------

    def wine_all(self, *commands, cwd=None, env=None):
        """[(exit status, standard output, standard error)] of Wine programs that run side by
        side."""
        # Output goes to files, not pipes: the first program of a fresh server starts Wine's
        # own background processes, which inherit its handles and would hold a pipe open for
        # as long as the server lives.
        files = [(tempfile.TemporaryFile(), tempfile.TemporaryFile()) for _ in commands]
        try:
            processes = [subprocess.Popen([WINE, *args], env=env or self.env,
                                          cwd=cwd or self.drive_c, stdin=subprocess.DEVNULL,
                                          stdout=out, stderr=err)
                         for args, (out, err) in zip(commands, files)]
            results = []
            for process, (out, err) in zip(processes, files):
                status = process.wait(timeout=RUN_TIMEOUT)
                out.seek(0)
                err.seek(0)
                results.append((status, out.read().decode("latin-1"),
                                err.read().decode("latin-1")))
            return results
        finally:
            for out, err in files:
                out.close()
                err.close()

    def wine(self, *args, cwd=None, check=True, env=None):
        """(exit status, standard output) of a Wine program."""
        status, out, err = self.wine_all(args, cwd=cwd, env=env)[0]
        if check and status != 0:
            raise SystemExit(f"wine {' '.join(args)} failed with {status}: {out}{err}")
        return status, out

    def registry(self, root):
        if self.imported is not None:
            return self.imported
        parsed = {}
        pending = list(enumerate(SUBTREES))
        for attempt in range(TOOL_ATTEMPTS):
            names = [f"export{i}.reg" for i, _ in pending]
            for name in names:
                if os.path.exists(os.path.join(self.work, name)):
                    os.remove(os.path.join(self.work, name))
            # Each export is a Wine start of a good part of a second; they run side by side.
            results = self.wine_all(*[("reg.exe", "export", key, f"C:\\{WORK_DIR}\\{name}",
                                       "/y") for (_, key), name in zip(pending, names)])
            failed = []
            for (i, key), name, (status, out, err) in zip(pending, names, results):
                if status == 0:
                    host = os.path.join(self.work, name)
                    parsed.update(run_scenarios.parse_reg(run_scenarios.registry_text(host)))
                elif MISSING_KEY not in out + err:
                    failed.append((i, key))
                    print(f"note: reg export {key} failed with {status} ({out}{err}), "
                          f"attempt {attempt + 1}")
            pending = failed
            if not pending:
                break
        if pending:
            raise SystemExit(f"reg export of {', '.join(key for _, key in pending)} failed")
        parsed = filter_subtrees(parsed)
        # Whatever a run left under the class key goes before the next scenario.
        state = self.load_state()
        known = {name.lower() for name in state["class_keys"]}
        state["class_keys"] += [top for low, top in class_tops(parsed).items() if low not in known]
        self.save_state(state)
        return parsed

    def filter_registry(self, parsed):
        return filter_subtrees(parsed)

    # --- a scenario ----------------------------------------------------------------------------

    def prepare(self, root, settings):
        version = settings["version"]
        if version not in WINE_VERSIONS:
            raise SystemExit(f"version {version} has no Wine setting")
        if settings["windir"] != "WINDOWS":
            raise SystemExit(f"windir={settings['windir']}: under Wine the Windows directory is "
                             "C:\\windows, the machine's WINDOWS")
        self.imported = None
        ensure_prefix(self.prefix)
        os.makedirs(self.work, exist_ok=True)

        state = self.load_state()
        self.clear_files(state)
        state["files"], state["dirs"] = [], []

        reg = os.path.join(root, "WINDOWS", "system.reg")
        parsed = run_scenarios.parse_reg(run_scenarios.registry_text(reg))
        tops = class_tops(parsed)
        for name in state["class_keys"]:
            tops.setdefault(name.lower(), name)
        delete_keys = [PCMCIA] + [f"{CLASS}\\{top}" for top in tops.values()]
        state["class_keys"] = list(tops.values())
        self.save_state(state)

        host = os.path.join(self.work, "import.reg")
        with open(host, "wb") as f:
            f.write(import_text(parsed, delete_keys, WINE_VERSIONS[version]).encode("latin-1"))
        for attempt in range(TOOL_ATTEMPTS):
            status, out = self.wine("reg.exe", "import", f"C:\\{WORK_DIR}\\import.reg",
                                    check=attempt + 1 == TOOL_ATTEMPTS)
            if status == 0:
                break
            print(f"note: reg import failed with {status} ({out}), attempt {attempt + 1}")
        # The registry before the run is the scenario's own: every Wine start costs a good part
        # of a second, and an export here would only repeat what the export after the run
        # compares anyway (a value that Wine does not keep as imported shows up there).
        self.imported = filter_subtrees(parsed)

        self.place_files(root, state)
        self.save_state(state)

    def run(self, root, settings, args):
        program_rel = settings["program"]
        if not os.path.splitext(program_rel)[1]:
            program_rel += ".exe"
        program = self.path(root, program_rel)
        os.makedirs(os.path.dirname(program), exist_ok=True)
        shutil.copy2(self.program, program)
        self.imported = None

        argv0 = settings["argv0"]
        if not argv0:
            status, out = self.wine(self.windows_path(program_rel), *args, check=False)
        elif "/" not in argv0 and "\\" not in argv0:
            # Started by its bare name, which the command interpreter finds along PATH; Wine
            # itself would hand the program its full path as argument 0.
            if any(c in arg for arg in args for c in CMD_SPECIAL):
                raise SystemExit(f"{args}: the command interpreter would read these arguments")
            env = dict(self.env, WINEPATH=ntpath.dirname(self.windows_path(program_rel)))
            status, out = self.wine("cmd", "/c", argv0, *args, check=False, env=env)
        else:
            raise SystemExit(f"argv0={argv0}: Wine takes argument 0 from the program's path")
        return status, out.replace("\r\n", "\n")


# --- the tier's set-up and clean-up, as CTest fixtures -------------------------------------------

SKIPPED = 77
PRESET = "win64"
# The server outlives the last Wine process by this many seconds, so that the scenarios one
# after another start Wine quickly; it ends by itself if the clean-up never runs.
SERVER_LINGER = 120


def wineserver(prefix, *args):
    return subprocess.run(["wineserver", *args], env=wine_environment(prefix),
                          stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, timeout=RUN_TIMEOUT).returncode


def set_up(source, binary, cmake, prefix):
    """Cross-builds the x86_64 program into `binary`, creates the prefix and starts its
    server."""
    subprocess.run([cmake, "--preset", PRESET, "-S", source, "-B", binary], check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run([cmake, "--build", binary, "--target", "reg7140", "-j2"], check=True,
                   stdout=subprocess.DEVNULL)
    # A server left by an earlier tier would keep its old lifetime; this prefix is the tier's.
    wineserver(prefix, "-k")
    os.makedirs(prefix, exist_ok=True)
    # wineserver puts itself in the background.
    if wineserver(prefix, f"-p{SERVER_LINGER}") != 0:
        raise SystemExit("wineserver did not start")
    ensure_prefix(prefix)
    print(f"{os.path.join(binary, 'reg7140.exe')} built; Wine prefix {prefix} ready")


def main():
    import argparse
    parser = argparse.ArgumentParser(description="Set-up and clean-up of the Wine scenario tier")
    parser.add_argument("step", choices=["setup", "cleanup"])
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--source", help="setup: the source tree")
    parser.add_argument("--binary", help="setup: where the Windows program is built")
    parser.add_argument("--cmake", default="cmake")
    options = parser.parse_args()
    reason = unavailable()
    if reason:
        print(f"skipped: {reason}")
        return SKIPPED
    prefix = os.path.abspath(options.prefix)
    if options.step == "setup":
        if not options.source or not options.binary:
            parser.error("setup needs --source and --binary")
        set_up(options.source, options.binary, options.cmake, prefix)
    else:
        # Ends the tier's own server, and with it any Wine process of the tier's prefix.
        wineserver(prefix, "-k")
    return 0


if __name__ == "__main__":
    sys.exit(main())
