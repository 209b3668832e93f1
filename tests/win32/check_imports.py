#!/usr/bin/env python3
"""--allowed LIST [--cmake CMAKE] --build SOURCE BINARY: cross-builds the win95-i686 preset, checks
that reg7140.exe is a 32-bit console program for Windows 4.0 importing only what LIST allows; 77
(skipped) without MinGW-w64. --self-test: the checks on made-up objdump listings."""
import argparse, os, re, shutil, subprocess, sys  # noqa: E401

CROSS_COMPILER = "i686-w64-mingw32-g++-win32"
HEADER = {"file format": "pei-i386", "Magic": "010b", "MajorOSystemVersion": "4",  # PE32
          "MinorOSystemVersion": "0", "MajorSubsystemVersion": "4", "MinorSubsystemVersion": "0",
          "Subsystem": "00000003"}  # console


def read_allowed(text):
    """{dll in lower case: function names} from the list's [DLL] headings and the lines below."""
    sections = re.findall(r"^\s*\[(.+?)\]([^[]*)", re.sub(r"#.*", "", text), re.M)
    return {dll.lower(): set(names.split()) for dll, names in sections}


def problems(listing, allowed):
    """What is wrong with the program that `objdump -p` listed."""
    found = []
    for key, expected in HEADER.items():
        value = re.search(rf"(?:^|\s){key}\s+(\S+)", listing, re.M)
        if not value or value[1] != expected:
            found.append(f"{key} is {value and value[1]}, not {expected}")
    if re.search(r"^Entry d \S+ 0*[1-9a-f]", listing, re.M):
        found.append("delay-loaded imports")
    # The import tables run to the next line that does not start with white space.
    table = re.search(r"^The Import Tables.*\n((?:[ \t].*\n|\n)*)", listing, re.M)
    blocks = table[1].split("DLL Name: ")[1:] if table else []
    if not blocks:
        found.append("no import table found")
    for block in blocks:
        dll = block.split()[0]
        # An import by ordinal is named <none>, which no list holds.
        for name in re.findall(r"^\t[0-9a-f]+\t *\d+ +(\S+)", block, re.M):
            if name not in allowed.get(dll.lower(), ()):
                found.append(f"imports {dll}!{name}, which is not on the list")
    return found


GOOD = """reg7140.exe:     file format pei-i386
Magic\t\t\t010b\t(PE32)
MajorOSystemVersion\t4
MinorOSystemVersion\t0
MajorSubsystemVersion\t4
MinorSubsystemVersion\t0
Subsystem\t\t00000003\t(Windows CUI)
Entry d 00000000 00000000 Delay Import Directory

The Import Tables (interpreted .idata section contents)
\tDLL Name: ADVAPI32.dll
\t3e370\t 1569  RegCloseKey

\tDLL Name: KERNEL32.dll
\t3e3d8\t  136  GetVersion
"""
CASES = [  # what the good listing becomes, and all that the check must find
    ("GetVersion", "GetVersionW", ["imports KERNEL32.dll!GetVersionW, which is not on the list"]),
    ("ADVAPI32", "USER32", ["imports USER32.dll!RegCloseKey, which is not on the list"]),
    ("Version\t4", "Version\t6",  # a program for Windows 6.0
     ["MajorOSystemVersion is 6, not 4", "MajorSubsystemVersion is 6, not 4"]),
    ("Entry d 00000000 00000000", "Entry d 0004e000 00000040", ["delay-loaded imports"]),
    ("Subsystem\t\t", "Subsystem: ", ["Subsystem is None, not 00000003"]),  # unreadable
    ("DLL Name:", "Name:", ["no import table found"])]


def self_test():
    allowed = read_allowed("[advapi32.dll]\nRegCloseKey\n[KERNEL32.dll] # [x]\nGetVersion\n")
    failed = [f"FAIL {old!r} -> {new!r}: expected {want}, got {got}" for old, new, want in CASES
              if (got := problems(GOOD.replace(old, new), allowed)) != want]
    print(*failed, f"{len(CASES) - len(failed)} of {len(CASES)} self-test cases passed", sep="\n")
    return 1 if failed else 0


def main(doc=__doc__, self_tests=(self_test,), image_checks=()):
    """The command line; check_image.py adds its self-test and its check of the built program."""
    parser = argparse.ArgumentParser(description=doc)
    parser.add_argument("--allowed")
    parser.add_argument("--build", nargs=2, metavar=("SOURCE", "BINARY"))
    parser.add_argument("--cmake", default="cmake")
    parser.add_argument("--self-test", action="store_true")
    args = parser.parse_args()
    if args.self_test:
        return max(test() for test in self_tests)
    if not args.allowed or not args.build:
        parser.error("give --allowed LIST and --build SOURCE BINARY")
    if not shutil.which(CROSS_COMPILER):
        print(f"skipped: {CROSS_COMPILER} is not installed")
        return 77
    source, binary = args.build
    for step in (["--preset", "win95-i686", "-S", source, "-B", binary],
                 ["--build", binary, "--target", "reg7140", "-j2"]):
        subprocess.run([args.cmake, *step], check=True, stdout=subprocess.DEVNULL)
    with open(args.allowed, encoding="ascii") as listing:
        allowed = read_allowed(listing.read())
    exe = os.path.join(binary, "reg7140.exe")
    found = problems(subprocess.run(["i686-w64-mingw32-objdump", "-p", exe], capture_output=True,
                                    text=True, check=True).stdout, allowed)
    summary = ["Windows 4.0 console program", "imports all on the list"]
    for check in image_checks:
        check(exe, found, summary)
    print(*([f"{exe}: {problem}" for problem in found] or [f"{exe}: {', '.join(summary)}"]),
          sep="\n")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
