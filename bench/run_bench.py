#!/usr/bin/env python3
"""Times whole runs of an optimised reg7140 (built in build-bench/) against bench/durable_rewrite.c
rewriting durably the files that an untimed run of the program changed (that run gives the peak
memory, one more of each side under strace the fsyncs): --repeat pairs of timed runs alternate, the
program then the baseline, each on a fresh copy of the machine after a sync. Times are medians
(min-max), MB 10^6 bytes. Exit status 1 when a target is missed, 2 on an error."""
import argparse, hashlib, os, random, shutil, statistics, subprocess, sys  # noqa: E401
import tempfile, time  # noqa: E401
from pathlib import Path

TOP = Path(__file__).resolve().parents[1]
SAMPLE, BUILD = TOP / "sample", TOP / "build-bench"
REG, INF = "WINDOWS/system.reg", "WINDOWS/inf/netzor.inf"
# Git keeps no file times: 1996-04-20 and 1997-02-28, the installed driver is the older one.
TIMES = {"WINDOWS/system/zvnd32.sys": 829_994_400, "disk/zvnd32.sys": 857_131_200}
DONE = {REG: b'"MemoryBaseAddress"=hex:01,00,00,00', INF: b"HKR,Override,0000,1,"}
LIMIT, FLUSHES = 1.5, ["fsync", "fdatasync", "syncfs", "sync"]  # LIMIT: run time / baseline's
# Wrappers that write a report. Run by time, the program's peak leaves out this script's memory.
PEAK = ["/usr/bin/time", "-f", "%M", "-o"]
STRACE = ["strace", "-f", "-c", "-e", "trace=" + ",".join(FLUSHES), "-o"]


def run(command, env=None, wrap=()):
    """Wall time of command, and the report that wrap wrote."""
    with tempfile.NamedTemporaryFile("r") as report:
        start = time.perf_counter()
        subprocess.run([*wrap, report.name, *command] if wrap else command, env=env,
                       stdout=subprocess.DEVNULL, check=True)
        return time.perf_counter() - start, report.read()


def hex_list(data, column):
    """Hex bytes wrapped as regedit wraps them: a line ends with the item that reaches column 77."""
    items, first = [f"{b:02x}" for b in data], max(1, -((column - 77) // 3))
    lines = [items[:first]] + [items[i:i + 25] for i in range(first, len(items), 25)]
    return ",\\\r\n  ".join(",".join(line) for line in lines if line)


def reg_value(rng, name):
    head, kind = f'"{name}"=' if name else "@=", rng.random()
    if kind < 0.45:
        words = rng.choices('Net|PCI|Adapter|C:\\WINDOWS\\SYSTEM|Display|1|Standard|"quoted"|'
                            "mmsystem.dll|%SystemRoot%".split("|"), k=rng.randint(1, 6))
        return head + '"' + " ".join(words).replace("\\", "\\\\").replace('"', '\\"') + '"\r\n'
    if kind < 0.75:
        return f"{head}dword:{rng.getrandbits(32):08x}\r\n"
    size = (rng.randint(1, 16) if kind < 0.95 else rng.randint(17, 128) if kind < 0.99
            else rng.randint(256, 2048))
    tag = "hex:" if kind < 0.9 else f"hex({rng.choice([0, 2, 7])}):"
    return head + tag + hex_list(rng.randbytes(size), len(head) + len(tag)) + "\r\n"


def big_registry(path, size):
    """A full-size export in tree order: the sample's keys among many Enum, Class and others."""
    rng = random.Random(7140)
    sample = (SAMPLE / REG).read_bytes().decode().replace("\r\n", "\n").replace("\n", "\r\n")
    blocks = {b.split("]", 1)[0][1:]: b + "\r\n\r\n" for b in sample.split("\r\n\r\n")[1:] if b}
    enum = r"HKEY_LOCAL_MACHINE\Enum\{bus}\{dev}\{n:04d}"
    cls = r"HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\Class\{cls}\{n:04d}"
    paths = [enum, enum + r"\LogConfig", cls, cls + r"\Ndi",
             r"HKEY_LOCAL_MACHINE\Software\{vendor}\{dev}\{n}.0\Settings",
             r"HKEY_CURRENT_USER\Software\{vendor}\{dev}\Recent File List",
             r"HKEY_CURRENT_USER\AppEvents\Schemes\Apps\{dev}\{cls}\.Current"]
    names = ("DeviceDesc,Class,HardwareID,Mfg,Driver,ConfigFlags,BootConfig,DriverDesc,DevLoader,"
             "InfPath,ProviderName,Window Position,MRU,InstallDir,Version,Flags,Settings,LastUsed,"
             "Data").split(",")
    written = 0
    while written < size:
        key = rng.choice(paths).format(
            bus=rng.choice("PCI ISAPNP BIOS Root MF".split()),
            dev=f"VEN_{rng.getrandbits(16):04X}&DEV_{rng.getrandbits(16):04X}",
            cls=rng.choice("Net Display MEDIA Ports hdc System".split()),
            vendor=rng.choice("Microsoft|Zorvan|Acme Software|Nimbus".split("|")),
            n=rng.randint(0, 99))
        if key not in blocks:
            blocks[key] = f"[{key}]\r\n" + "".join(
                reg_value(rng, rng.choice(names) + str(i) if i or rng.random() < 0.8 else "")
                for i in range(rng.randint(1, 8))) + "\r\n"
            written += len(blocks[key])
    keys = sorted(blocks, key=lambda k: k.lower().split("\\"))
    return Path(path).write_bytes(("REGEDIT4\r\n\r\n" + "".join(map(blocks.get, keys))).encode())


INF_LINES = {  # a section's kind, and one of its lines
    "AddReg": lambda r: f"HKR,Ndi\\params\\Opt{r.randint(0, 99)},default,,{r.randint(0, 999)}",
    "CopyFiles": lambda r: f"file{r.getrandbits(24):06x}.vxd,,,{r.randint(0, 3)}",
    "Strings": lambda r: f'Text{r.getrandbits(20)}="{" ".join(["Setting"] * r.randint(1, 12))}"'}


def big_inf(path, size):
    """The sample INF with many realistic sections before the models and after the chain."""
    rng = random.Random(7141)

    def sections(amount):
        out, total, n = [], 0, 0
        while total < amount:
            n, kind = n + 1, rng.choice(list(INF_LINES))
            out.append(f"\n; {kind} for model {n}\n[Model{n}.{kind}]\n")
            total += len(out[-1])
            for _ in range(rng.randint(5, 60)):
                out.append(INF_LINES[kind](rng) + "\n")
                total += len(out[-1]) + 1  # written with CR LF
        return "".join(out)

    head, tail = (SAMPLE / INF).read_bytes().decode().replace("\r\n", "\n").split("; ----", 1)
    text = head + sections(size // 2) + "\n; ----" + tail + sections(size // 2)
    return Path(path).write_bytes(text.replace("\n", "\r\n").encode())


def digests(root):
    return {str(p.relative_to(root)): hashlib.sha256(p.read_bytes()).digest()
            for p in Path(root).rglob("*") if p.is_file()}


def spread(times):
    ms = [t * 1e3 for t in times]
    return f"{statistics.median(ms):.1f} ({min(ms):.1f}-{max(ms):.1f})"


def measure(work, name, files, args, memory_limit, repeat):
    """Whether the target is missed, and its row of the table."""
    root = os.path.join(work, "machine")
    env = {**os.environ, "WINDIR": os.path.join(root, "WINDOWS")}

    def fresh():  # a copy of the sample machine with the program on its disk and files in place
        shutil.rmtree(root, ignore_errors=True)
        shutil.copytree(SAMPLE, root)
        for rel, source in {"disk/reg7140": BUILD / "reg7140", **files}.items():
            shutil.copy(source, os.path.join(root, rel))
        for rel, stamp in TIMES.items():
            os.utime(os.path.join(root, rel), (stamp, stamp))
        return digests(root)

    def flushes(command):  # strace's rows: % time, seconds, usecs/call, calls, [errors,] syscall
        fresh()
        rows = map(str.split, run(command, env, STRACE)[1].splitlines())
        return sum(int(row[3]) for row in rows if row and row[-1] in FLUSHES)

    print(f"measuring {name} ...", file=sys.stderr, flush=True)
    before, ours = fresh(), [os.path.join(root, "disk", "reg7140"), *args]
    peak = int(run(ours, env, PEAK)[1].split()[-1]) * 1024
    after = digests(root)
    # The timed work must be the real one: the registry and, in a whole run, the INF configured.
    if before.keys() != after.keys() or any(DONE[f] not in Path(root, f).read_bytes()
                                            for f in DONE if f == REG or "/inst" not in args):
        raise RuntimeError(f"{name}: the run added or removed files or left them unconfigured")
    changed = sorted(f for f in before if before[f] != after[f])
    theirs = [BUILD / "durable_rewrite", *(os.path.join(root, f) for f in changed)]
    counts, times = f"{flushes(ours)}/{flushes(theirs)}", ([], [])
    for _ in range(repeat):
        for command, expected, spent in ((ours, after, times[0]), (theirs, before, times[1])):
            fresh()
            inodes = [os.stat(os.path.join(root, f)).st_ino for f in changed]
            os.sync()
            spent.append(run(command, env)[0])
            # The baseline must have replaced each file by a copy of it.
            if digests(root) != expected or command is theirs and any(
                    os.stat(os.path.join(root, f)).st_ino == i for f, i in zip(changed, inodes)):
                raise RuntimeError(f"{name}: a timed run of {command[0]} did not do its work")
    ratio = statistics.median(times[0]) / statistics.median(times[1])
    slow, big = ratio > LIMIT, peak > (memory_limit or peak)
    limit = f" (limit {memory_limit / 1e6:.1f} MB)" if memory_limit else ""
    return slow or big, (f"| {name} | {spread(times[0])} | {spread(times[1])} | {ratio:.2f}"
                         f"{' MISSED' * slow} | {LIMIT} | {counts} | {peak / 1e6:.1f} MB{limit}"
                         f"{' MISSED' * big} | {', '.join(changed)} |")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=9, help="pairs of timed runs (default 9)")
    parser.add_argument("--work-dir", help="where the machines go (its file system counts)")
    opts = parser.parse_args()
    if opts.repeat < 1:
        parser.error("--repeat needs at least one pair")
    run(["cmake", "-S", TOP, "-B", BUILD, "-DCMAKE_BUILD_TYPE=Release", "-DREG7140_TESTS=OFF"])
    run(["cmake", "--build", BUILD, "-j2", "--target", "reg7140"])
    run(["cc", "-O2", "-Wall", "-o", BUILD / "durable_rewrite", TOP / "bench/durable_rewrite.c"])
    work, load = tempfile.mkdtemp(prefix="reg7140-bench.", dir=opts.work_dir), os.getloadavg()[0]
    try:
        reg, inf = os.path.join(work, "big.reg"), os.path.join(work, "big.inf")
        reg_mb, inf_mb = big_registry(reg, 20_000_000) / 1e6, big_inf(inf, 10_000_000) / 1e6
        targets = [  # name, files put on the machine, switches, memory limit
            (f"`/inst`, {reg_mb:.1f} MB system.reg", {REG: reg}, ["/inst"], 1.2e6 * reg_mb + 8e6),
            ("whole run, sample machine", {}, [], None),
            (f"whole run, {inf_mb:.1f} MB netzor.inf", {INF: inf}, [], None)]
        results = [measure(work, *target, opts.repeat) for target in targets]
        mount = subprocess.run(["df", "--output=fstype,target", work], capture_output=True,
                               text=True, check=True).stdout.splitlines()[-1].split(None, 1)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("| target | run ms, median (min-max) | baseline ms, median (min-max) | ratio | limit | "
          "fsyncs program/baseline | peak memory | baseline rewrote |")
    print("|---|---:|---:|---:|---:|---:|---:|---|", *(row for _, row in results), sep="\n")
    print(f"\n{opts.repeat} pairs per target; machines on {mount[0]} ({mount[1]}); 1-minute load "
          f"average {load:.2f} before, {os.getloadavg()[0]:.2f} after.")
    return 1 if any(missed for missed, _ in results) else 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (subprocess.CalledProcessError, OSError, RuntimeError) as error:
        print(f"run_bench: {error}", file=sys.stderr)
        sys.exit(2)
