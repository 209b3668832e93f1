#!/usr/bin/env python3
"""Times whole runs of an optimised reg7140 against durable copies of the files it rewrites.

    python3 bench/run_bench.py            # builds build-bench/ (Release), prints the table

Each figure is the median over --repeat runs, each on a fresh machine, divided by the median of
a baseline measured in the same run: copying the same file to a temporary file beside it,
fsync, rename. Peak memory is the program's maximum resident set size; MB are 10^6 bytes.
"""
import argparse
import ctypes
import os
import random
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SAMPLE = os.path.join(TOP, "sample")
OLD, NEW = 829_994_400, 857_131_200  # 1996-04-20, 1997-02-28: the installed driver is older


def build(build_dir):
    subprocess.run(["cmake", "-S", TOP, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release",
                    "-DREG7140_TESTS=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "-j2", "--target", "reg7140"], check=True,
                   stdout=subprocess.DEVNULL)
    return os.path.join(build_dir, "reg7140")


def durable_copy(path):
    temp = path + ".bench"
    shutil.copyfile(path, temp)
    fd = os.open(temp, os.O_RDONLY)
    os.fsync(fd)
    os.close(fd)
    os.rename(temp, path)


def timed(action):
    start = time.perf_counter()
    action()
    return time.perf_counter() - start


class SaveCounter:
    """Counts renames onto system.reg (one per registry save) with inotify. Renames from other
    names are watched too, or the kernel would merge the identical events of successive saves."""
    IN_MOVED_FROM, IN_MOVED_TO = 0x40, 0x80

    def __init__(self, directory):
        self.libc = ctypes.CDLL(None, use_errno=True)
        self.fd = self.libc.inotify_init1(os.O_NONBLOCK)
        if self.fd < 0 or self.libc.inotify_add_watch(self.fd, directory.encode(),
                                                      self.IN_MOVED_FROM | self.IN_MOVED_TO) < 0:
            raise OSError(ctypes.get_errno(), "inotify")

    def count(self):
        saves = 0
        try:
            while data := os.read(self.fd, 65536):
                at = 0
                while at < len(data):
                    _, mask, _, length = struct.unpack_from("iIII", data, at)
                    name = data[at + 16:at + 16 + length].rstrip(b"\0")
                    saves += mask == self.IN_MOVED_TO and name.lower() == b"system.reg"
                    at += 16 + length
        except BlockingIOError:
            pass
        os.close(self.fd)
        return saves


def run_program(program, machine, args):
    """Wall time of one run."""
    env = {**os.environ, "WINDIR": os.path.join(machine, "WINDOWS")}
    start = time.perf_counter()
    status = subprocess.run([program, *args], env=env, stdout=subprocess.DEVNULL).returncode
    elapsed = time.perf_counter() - start
    if status != 0:
        sys.exit(f"reg7140 {' '.join(args)} failed on {machine}")
    return elapsed


def profile_program(program, machine, args):
    """Peak RSS in bytes and registry saves of one run. The peak comes from /usr/bin/time, whose
    own small process starts the program: a child started straight from this script would count
    the script's memory as its own."""
    windir = os.path.join(machine, "WINDOWS")
    saves = SaveCounter(windir)
    with tempfile.NamedTemporaryFile("r") as report:
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name, program, *args],
                       env={**os.environ, "WINDIR": windir}, stdout=subprocess.DEVNULL, check=True)
        peak = int(report.read().split()[-1]) * 1024
    return peak, saves.count()


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
        sys.exit(f"reg7140 {' '.join(args)} left {machine} unconfigured")


def measure(name, program, machine_args, args, baseline_files, repeat, copies=None):
    machine = make_machine(**machine_args)
    peak, saves = profile_program(program, machine, args)
    check_done(machine, args)
    n = copies(saves) if copies else 1
    runs, base = [], []
    for _ in range(repeat):
        runs.append(run_program(program, make_machine(**machine_args), args))
        machine = make_machine(**machine_args)
        base.append(timed(lambda: [durable_copy(os.path.join(machine, f))
                                   for f in baseline_files for _ in range(n)]))
    return dict(name=name, run=statistics.median(runs), base=statistics.median(base), rss=peak,
                saves=saves)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", help="a reg7140 to time instead of building one")
    parser.add_argument("--build-dir", default=os.path.join(TOP, "build-bench"))
    parser.add_argument("--work-dir", help="where the machines go (its file system counts)")
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--reg-mb", type=float, default=20)
    parser.add_argument("--inf-mb", type=float, default=10)
    opts = parser.parse_args()

    program = opts.program or build(opts.build_dir)
    work = tempfile.mkdtemp(prefix="reg7140-bench.", dir=opts.work_dir)
    try:
        registry = os.path.join(work, "big.reg")
        big_registry(registry, int(opts.reg_mb * 1e6))
        inf = os.path.join(work, "big.inf")
        big_inf(inf, int(opts.inf_mb * 1e6))
        machine = os.path.join(work, "machine")
        reg_size = os.path.getsize(registry)
        results = [
            (measure("sample machine, whole run", program, dict(root=machine, program=program), [],
                     ["WINDOWS/system.reg", "WINDOWS/inf/netzor.inf", "WINDOWS/system/zvnd32.sys"],
                     opts.repeat), 2.0, None),
            (measure(f"/inst, {reg_size / 1e6:.1f} MB system.reg", program,
                     dict(root=machine, program=program, registry=registry), ["/inst"],
                     ["WINDOWS/system.reg"], opts.repeat, copies=lambda saves: saves + 1),
             1.5, 3 * reg_size + 8e6),
            (measure(f"whole run, {os.path.getsize(inf) / 1e6:.1f} MB netzor.inf", program,
                     dict(root=machine, program=program, inf=inf), [],
                     ["WINDOWS/inf/netzor.inf"], opts.repeat), 2.0, None),
        ]
    finally:
        shutil.rmtree(work, ignore_errors=True)

    print("| target | run (ms) | baseline (ms) | ratio | limit | peak memory |")
    print("|---|---:|---:|---:|---:|---:|")
    failed = False
    for r, limit, rss_limit in results:
        ratio = r["run"] / r["base"]
        ok = ratio <= limit and (rss_limit is None or r["rss"] <= rss_limit)
        failed |= not ok
        base_note = f" ({r['saves'] + 1} copies)" if rss_limit else ""
        rss_note = f" (limit {rss_limit / 1e6:.0f} MB)" if rss_limit else ""
        print(f"| {r['name']} | {r['run'] * 1e3:.1f} | {r['base'] * 1e3:.1f}{base_note} | "
              f"{ratio:.2f}{'' if ok else ' MISSED'} | {limit} | "
              f"{r['rss'] / 1e6:.1f} MB{rss_note} |")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
