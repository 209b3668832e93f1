#!/usr/bin/env python3
"""Times whole runs of an optimised reg7140 against a durable rewrite of the files it changes.

    python3 bench/run_bench.py            # builds build-bench/ (Release), prints the table

The baseline is bench/durable_rewrite.c, built with `cc -O2` and started as a process like the
program: it rewrites each file the program changes (read, temporary file beside it, fsync, rename,
fsync of the directory). The files are those whose bytes differ after one untimed run of the
program, which also gives its peak memory (maximum resident set size). Then --repeat pairs of
timed runs alternate, the program and then the baseline, each on a fresh copy of the machine,
with the disk flushed (sync) before each run. Each side's figure is the median with min and max;
the ratio is that of the medians. One more untimed run of each side under strace counts its disk
flushes. MB are 10^6 bytes. Exit status 1 when a target is missed, 2 on an error.
"""
import argparse
import hashlib
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SAMPLE = os.path.join(TOP, "sample")
OLD, NEW = 829_994_400, 857_131_200  # 1996-04-20, 1997-02-28: the installed driver is older
FLUSHES = "fsync,fdatasync,syncfs,sync"


def fail(message):
    print(f"run_bench: {message}", file=sys.stderr)
    sys.exit(2)


def build(build_dir, program=None):
    """The program (built in build_dir unless given) and the baseline, built beside it."""
    if not program:
        subprocess.run(["cmake", "-S", TOP, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
                        "-DREG7140_TESTS=OFF"], check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", build_dir, "-j2", "--target", "reg7140"], check=True,
                       stdout=subprocess.DEVNULL)
        program = os.path.join(build_dir, "reg7140")
    os.makedirs(build_dir, exist_ok=True)
    baseline = os.path.join(build_dir, "durable_rewrite")
    subprocess.run(["cc", "-O2", "-Wall", "-o", baseline,
                    os.path.join(TOP, "bench", "durable_rewrite.c")], check=True)
    return os.path.abspath(program), baseline


def make_machine(root, program, registry=None, inf=None):
    shutil.rmtree(root, ignore_errors=True)
    shutil.copytree(SAMPLE, root)
    shutil.copy(program, os.path.join(root, "disk", "reg7140"))
    if registry:
        shutil.copy(registry, os.path.join(root, "WINDOWS", "system.reg"))
    if inf:
        shutil.copy(inf, os.path.join(root, "WINDOWS", "inf", "netzor.inf"))
    os.utime(os.path.join(root, "WINDOWS", "system", "zvnd32.sys"), (OLD, OLD))
    os.utime(os.path.join(root, "disk", "zvnd32.sys"), (NEW, NEW))
    return root


def hex_list(data, start):
    """A hex list wrapped as regedit wraps it."""
    out, column = [], start
    for i, b in enumerate(data):
        item = f"{b:02x}" + ("," if i + 1 < len(data) else "")
        out.append(item)
        column += len(item)
        if column >= 77 and i + 1 < len(data):
            out.append("\\\r\n  ")
            column = 2
    return "".join(out)


def reg_value(rng, name):
    head, kind = f'"{name}"=' if name else "@=", rng.random()
    if kind < 0.45:
        words = rng.choices(["Net", "PCI", "Adapter", "C:\\WINDOWS\\SYSTEM", "Display", "1",
                             "Standard", '"quoted"', "mmsystem.dll", "%SystemRoot%"],
                            k=rng.randint(1, 6))
        text = " ".join(words).replace("\\", "\\\\").replace('"', '\\"')
        return f'{head}"{text}"\r\n'
    if kind < 0.75:
        return f"{head}dword:{rng.getrandbits(32):08x}\r\n"
    size = (rng.randint(1, 16) if kind < 0.95 else rng.randint(17, 128) if kind < 0.99
            else rng.randint(256, 2048))
    tag = "hex:" if kind < 0.9 else f"hex({rng.choice([0, 2, 7])}):"
    return head + tag + hex_list(rng.randbytes(size), len(head) + len(tag)) + "\r\n"


def big_registry(path, size):
    """A full-size export in tree order: the sample's keys among many Enum, Class, Software and
    user keys."""
    rng = random.Random(7140)
    with open(os.path.join(SAMPLE, "WINDOWS", "system.reg"), newline="") as f:
        sample = f.read().replace("\r\n", "\n").replace("\n", "\r\n")
    blocks = {b.split("]", 1)[0][1:]: b + "\r\n\r\n" for b in sample.split("\r\n\r\n")[1:] if b}
    paths = ["HKEY_LOCAL_MACHINE\\Enum\\{bus}\\{dev}\\{n:04d}",
             "HKEY_LOCAL_MACHINE\\Enum\\{bus}\\{dev}\\{n:04d}\\LogConfig",
             "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\{cls}\\{n:04d}",
             "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\{cls}\\{n:04d}\\Ndi",
             "HKEY_LOCAL_MACHINE\\Software\\{vendor}\\{dev}\\{n}.0\\Settings",
             "HKEY_CURRENT_USER\\Software\\{vendor}\\{dev}\\Recent File List",
             "HKEY_CURRENT_USER\\AppEvents\\Schemes\\Apps\\{dev}\\{cls}\\.Current"]
    names = ["DeviceDesc", "Class", "HardwareID", "Mfg", "Driver", "ConfigFlags", "BootConfig",
             "DriverDesc", "DevLoader", "InfPath", "ProviderName", "Window Position", "MRU",
             "InstallDir", "Version", "Flags", "Settings", "LastUsed", "Data"]
    written = 0
    while written < size:
        key = rng.choice(paths).format(
            bus=rng.choice(["PCI", "ISAPNP", "BIOS", "Root", "MF"]),
            dev=f"VEN_{rng.getrandbits(16):04X}&DEV_{rng.getrandbits(16):04X}",
            cls=rng.choice(["Net", "Display", "MEDIA", "Ports", "hdc", "System"]),
            vendor=rng.choice(["Microsoft", "Zorvan", "Acme Software", "Nimbus"]),
            n=rng.randint(0, 99))
        if key in blocks:
            continue
        blocks[key] = f"[{key}]\r\n" + "".join(
            reg_value(rng, rng.choice(names) + str(i) if i or rng.random() < 0.8 else "")
            for i in range(rng.randint(1, 8))) + "\r\n"
        written += len(blocks[key])
    with open(path, "w", newline="") as out:
        out.write("REGEDIT4\r\n\r\n")
        for key in sorted(blocks, key=lambda k: k.lower().split("\\")):
            out.write(blocks[key])


def big_inf(path, size):
    """The sample INF with many realistic sections before the models and after the chain."""
    rng = random.Random(7141)
    with open(os.path.join(SAMPLE, "WINDOWS", "inf", "netzor.inf"), newline="") as f:
        sample = f.read().replace("\r\n", "\n")
    head, tail = sample.split("; ----", 1)

    def sections(amount):
        lines, total, n = [], 0, 0
        while total < amount:
            n += 1
            kind = rng.choice(["AddReg", "CopyFiles", "Strings"])
            lines.append(f"\n; {kind} for model {n}\n[Model{n}.{kind}]\n")
            total += len(lines[-1])
            for _ in range(rng.randint(5, 60)):
                if kind == "AddReg":
                    line = f"HKR,Ndi\\params\\Opt{rng.randint(0, 99)},default,,{rng.randint(0, 999)}"
                elif kind == "CopyFiles":
                    line = f"file{rng.getrandbits(24):06x}.vxd,,,{rng.randint(0, 3)}"
                else:
                    line = f'Text{rng.getrandbits(20)}="{" ".join(["Setting"] * rng.randint(1, 12))}"'
                lines.append(line + "\n")
                total += len(line) + 2
        return "".join(lines)

    text = head + sections(size // 2) + "\n; ----" + tail + sections(size // 2)
    with open(path, "w", newline="") as out:
        out.write(text.replace("\n", "\r\n"))


def check_done(machine, args):
    """The timed work must be the real one: the registry and, in a whole run, the INF file end up
    configured."""
    with open(os.path.join(machine, "WINDOWS", "system.reg"), "rb") as f:
        done = b'"MemoryBaseAddress"=hex:01,00,00,00' in f.read()
    if "/inst" not in args:
        with open(os.path.join(machine, "WINDOWS", "inf", "netzor.inf"), "rb") as f:
            done &= b"HKR,Override,0000,1," in f.read()
    if not done:
        fail(f"reg7140 {' '.join(args)} left {machine} unconfigured")


def snapshot(machine):
    """Every file of a machine with a digest of its bytes."""
    files = {}
    for directory, _, names in os.walk(machine):
        for name in names:
            path = os.path.join(directory, name)
            with open(path, "rb") as f:
                files[os.path.relpath(path, machine)] = hashlib.sha256(f.read()).digest()
    return files


def timed(command, env=None):
    """Wall time of one run, from the start of the process to its end."""
    start = time.perf_counter()
    status = subprocess.run(command, env=env, stdout=subprocess.DEVNULL).returncode
    elapsed = time.perf_counter() - start
    if status != 0:
        fail(f"{' '.join(command)} ended with status {status}")
    return elapsed


def peak_memory(command, env=None):
    """Peak RSS in bytes of one run. /usr/bin/time, whose own small process starts the program,
    measures it: a child started straight from this script would count the script's memory."""
    with tempfile.NamedTemporaryFile("r") as report:
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name, *command], env=env,
                       stdout=subprocess.DEVNULL, check=True)
        return int(report.read().split()[-1]) * 1024


def flush_count(command, env=None):
    """The calls that flush to disk in one run, counted by strace (None without it)."""
    if not shutil.which("strace"):
        return None
    with tempfile.NamedTemporaryFile("r") as report:
        subprocess.run(["strace", "-f", "-c", "-e", f"trace={FLUSHES}", "-o", report.name,
                        *command], env=env, stdout=subprocess.DEVNULL, check=True)
        # Rows: % time, seconds, usecs/call, calls, [errors,] syscall; then a total.
        return sum(int(row[3]) for row in map(str.split, report)
                   if row and row[-1] in FLUSHES.split(","))


def measure(name, make, args, baseline, repeat):
    """make(side) prepares a fresh machine for "program" or "baseline" and returns its root."""
    def program_command(machine):
        return ([os.path.join(machine, "disk", "reg7140"), *args],
                {**os.environ, "WINDIR": os.path.join(machine, "WINDOWS")})

    # The untimed run: what the program changes, and its peak memory.
    machine = make("program")
    before = snapshot(machine)
    peak = peak_memory(*program_command(machine))
    check_done(machine, args)
    after = snapshot(machine)
    if before.keys() != after.keys():
        fail(f"{name}: the run added or removed files: {sorted(before.keys() ^ after.keys())}")
    changed = sorted(f for f in before if before[f] != after[f])

    def baseline_command(machine):
        return [baseline, *(os.path.join(machine, f) for f in changed)], None

    flushes = (flush_count(*program_command(make("program"))),
               flush_count(*baseline_command(make("baseline"))))
    runs, bases = [], []
    for _ in range(repeat):
        ran, rewritten = make("program"), make("baseline")
        inodes = [os.stat(os.path.join(rewritten, f)).st_ino for f in changed]
        os.sync()
        runs.append(timed(*program_command(ran)))
        os.sync()
        bases.append(timed(*baseline_command(rewritten)))
        # The timed work must be the real one, on both sides.
        if snapshot(ran) != after:
            fail(f"{name}: a timed run left other bytes than the untimed one")
        if snapshot(rewritten) != before or any(
                os.stat(os.path.join(rewritten, f)).st_ino == inode
                for f, inode in zip(changed, inodes)):
            fail(f"{name}: the baseline did not rewrite {', '.join(changed)} as they were")
    return dict(name=name, runs=runs, bases=bases, peak=peak, flushes=flushes, changed=changed)


def file_system_of(path):
    """The type of the file system holding path: the mount with the longest matching point."""
    path, best = os.path.join(os.path.realpath(path), ""), ("", "unknown")
    with open("/proc/self/mounts") as mounts:
        for _, point, kind, *_ in (line.split() for line in mounts):
            if path.startswith(os.path.join(point, "")) and len(point) >= len(best[0]):
                best = (point, kind)
    return f"{best[1]} ({best[0]})"


def spread(times):
    ms = [t * 1e3 for t in times]
    return f"{statistics.median(ms):.1f} ({min(ms):.1f}-{max(ms):.1f})"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", help="a reg7140 to time instead of building one")
    parser.add_argument("--build-dir", default=os.path.join(TOP, "build-bench"))
    parser.add_argument("--work-dir", help="where the machines go (its file system counts)")
    parser.add_argument("--repeat", type=int, default=9, help="pairs of timed runs (default 9)")
    parser.add_argument("--reg-mb", type=float, default=20)
    parser.add_argument("--inf-mb", type=float, default=10)
    opts = parser.parse_args()
    if opts.repeat < 1:
        parser.error("--repeat needs at least one pair")

    program, baseline = build(opts.build_dir, opts.program)
    work = tempfile.mkdtemp(prefix="reg7140-bench.", dir=opts.work_dir)
    load_before = os.getloadavg()[0]
    try:
        registry = os.path.join(work, "big.reg")
        big_registry(registry, int(opts.reg_mb * 1e6))
        inf = os.path.join(work, "big.inf")
        big_inf(inf, int(opts.inf_mb * 1e6))
        reg_size, inf_size = os.path.getsize(registry), os.path.getsize(inf)
        targets = [  # name, files put on the machine, switches, time limit, memory limit
            (f"`/inst`, {reg_size / 1e6:.1f} MB system.reg", dict(registry=registry), ["/inst"],
             1.5, 1.2 * reg_size + 8e6),
            ("whole run, sample machine", {}, [], 1.5, None),
            (f"whole run, {inf_size / 1e6:.1f} MB netzor.inf", dict(inf=inf), [], 1.5, None),
        ]
        results = []
        for name, files, args, limit, memory_limit in targets:
            print(f"measuring {name} ...", file=sys.stderr, flush=True)

            def make(side, files=files):
                return make_machine(os.path.join(work, side), program, **files)

            results.append((measure(name, make, args, baseline, opts.repeat), limit,
                            memory_limit))
        file_system = file_system_of(work)
    finally:
        shutil.rmtree(work, ignore_errors=True)

    counted = all(None not in r["flushes"] for r, _, _ in results)
    print(f"| target | run ms, median (min-max) | baseline ms, median (min-max) | ratio | limit |"
          f"{' fsyncs program/baseline |' if counted else ''} peak memory |")
    print(f"|---|---:|---:|---:|---:|{'---:|' if counted else ''}---:|")
    missed = False
    for r, limit, memory_limit in results:
        ratio = statistics.median(r["runs"]) / statistics.median(r["bases"])
        memory_ok = memory_limit is None or r["peak"] <= memory_limit
        missed |= ratio > limit or not memory_ok
        flushes = f" {r['flushes'][0]}/{r['flushes'][1]} |" if counted else ""
        memory = f"{r['peak'] / 1e6:.1f} MB"
        if memory_limit:
            memory += f" (limit {memory_limit / 1e6:.1f} MB){'' if memory_ok else ' MISSED'}"
        print(f"| {r['name']} | {spread(r['runs'])} | {spread(r['bases'])} | "
              f"{ratio:.2f}{' MISSED' if ratio > limit else ''} | {limit} |{flushes} {memory} |")
    print()
    for r, _, _ in results:
        print(f"- {r['name']}: the baseline rewrote {', '.join(r['changed'])}")
    print(f"\n{opts.repeat} pairs per target; machines on {file_system}; 1-minute load average "
          f"{load_before:.2f} before, {os.getloadavg()[0]:.2f} after.")
    if not counted:
        print("strace is not installed: the fsync counts are left out.")
    return 1 if missed else 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except subprocess.CalledProcessError as error:
        fail(f"{' '.join(map(str, error.cmd))} ended with status {error.returncode}")
    except OSError as error:
        fail(str(error))
