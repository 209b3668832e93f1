#!/usr/bin/env python3
"""Checks that the Windows 95 program is marked for Windows 4.0 and imports only what Windows 95
has.

  check_imports.py --allowed LIST EXE
      checks EXE;
  check_imports.py --allowed LIST --build SOURCE BINARY [--cmake CMAKE]
      first configures the win95-i686 preset of SOURCE into BINARY and builds the program there;
      exits with 77 (skipped) when the MinGW-w64 cross compiler is not installed;
  check_imports.py --self-test
      runs the checks on made-up objdump listings.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys

SKIPPED = 77
CROSS_COMPILER = "i686-w64-mingw32-g++-win32"
OBJDUMPS = ("i686-w64-mingw32-objdump", "objdump")
PRESET = "win95-i686"

EXPECTED_HEADER = {
    "Magic": "010b",  # PE32: a 32-bit program
    "MajorOSystemVersion": "4",
    "MinorOSystemVersion": "0",
    "MajorSubsystemVersion": "4",
    "MinorSubsystemVersion": "0",
    "Subsystem": "00000003",  # console
}


def read_allowed(lines, source="allowed list"):
    """{dll in lower case: set of function names} from the list's lines."""
    allowed = {}
    current = None
    for number, raw in enumerate(lines, 1):
        line = raw.split("#", 1)[0].strip()
        if not line:
            continue
        section = re.fullmatch(r"\[(.+)\]", line)
        if section:
            current = allowed.setdefault(section.group(1).lower(), set())
        elif current is None:
            raise ValueError(f"{source}:{number}: a function before any [DLL] heading")
        else:
            current.add(line)
    return allowed


def parse_listing(text):
    """The file format, the header fields, the data directory sizes and {dll: [functions]}."""
    found = re.search(r"file format (\S+)", text)
    file_format = found.group(1) if found else None
    header = {}
    for key in EXPECTED_HEADER:
        found = re.search(rf"^{key}\s+(\S+)", text, re.M)
        header[key] = found.group(1) if found else None
    directories = {}
    for found in re.finditer(r"^Entry ([0-9a-f]) [0-9a-f]+ ([0-9a-f]+) (.+)$", text, re.M):
        directories[found.group(3).strip()] = int(found.group(2), 16)

    imports = {}
    in_imports = False
    current = None
    for line in text.splitlines():
        if line.startswith("The Import Tables"):
            in_imports = True
            continue
        if not in_imports:
            continue
        if line and not line[0].isspace():
            break  # the next part of the listing
        dll = re.match(r"^\s+DLL Name: (\S+)", line)
        if dll:
            current = imports.setdefault(dll.group(1), [])
            continue
        entry = re.match(r"^\t[0-9a-fA-F]+\t\s*\d+\s+(\S+)", line)
        if entry and current is not None:
            current.append(entry.group(1))
        elif re.match(r"^\t[0-9a-fA-F]+\t", line) and current is not None:
            current.append("<unnamed>")
    return file_format, header, directories, imports


def problems_of(text, allowed):
    file_format, header, directories, imports = parse_listing(text)
    problems = []
    if file_format != "pei-i386":
        problems.append(f"file format {file_format}, not pei-i386")
    for key, expected in EXPECTED_HEADER.items():
        if header[key] != expected:
            problems.append(f"{key} is {header[key]}, not {expected}")
    for name, size in directories.items():
        if name.startswith("Delay Import") and size != 0:
            problems.append("delay-loaded imports")
    if not imports:
        problems.append("no import table found")
    for dll, functions in sorted(imports.items()):
        permitted = allowed.get(dll.lower())
        if permitted is None:
            problems.append(f"imports from {dll}")
            continue
        for function in functions:
            if function not in permitted:
                problems.append(f"imports {dll}!{function}, which is not on the list")
    return problems


def objdump_listing(exe):
    """objdump -p of EXE, from the first objdump that can read it."""
    for tool in OBJDUMPS:
        path = shutil.which(tool)
        if path:
            result = subprocess.run([path, "-p", exe], capture_output=True, text=True)
            if result.returncode == 0:
                return result.stdout
    raise SystemExit(f"{exe}: no objdump could read it")


def build(source, binary, cmake):
    subprocess.run([cmake, "--preset", PRESET, "-S", source, "-B", binary], check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run([cmake, "--build", binary, "--target", "reg7140", "-j2"], check=True,
                   stdout=subprocess.DEVNULL)
    return os.path.join(binary, "reg7140.exe")


GOOD_LISTING = """
reg7140.exe:     file format pei-i386

Magic\t\t\t010b\t(PE32)
MajorOSystemVersion\t4
MinorOSystemVersion\t0
MajorSubsystemVersion\t4
MinorSubsystemVersion\t0
Subsystem\t\t00000003\t(Windows CUI)

The Data Directory
Entry 1 0003e000 00000a58 Import Directory [parts of .idata]
Entry d 00000000 00000000 Delay Import Directory

The Import Tables (interpreted .idata section contents)
 vma:            Hint    Time      Forward  DLL       First
 0003e000\t0003e050 00000000 00000000 0003e8c0 0003e1e0

\tDLL Name: ADVAPI32.dll
\tvma:  Hint/Ord Member-Name Bound-To
\t3e370\t 1569  RegCloseKey

\tDLL Name: KERNEL32.dll
\tvma:  Hint/Ord Member-Name Bound-To
\t3e3d8\t  136  GetVersion

PE File Base Relocations (interpreted .reloc section contents)
\treloc    0 offset   18 [1018] HIGHLOW
"""

SELF_TEST_LIST = ["[advapi32.dll]", "RegCloseKey", "[KERNEL32.dll]", "GetVersion  # comment"]


def self_test():
    allowed = read_allowed(SELF_TEST_LIST)
    cases = [
        ("a listing within the list", GOOD_LISTING, []),
        ("another DLL", GOOD_LISTING.replace("ADVAPI32.dll", "USER32.dll"),
         ["imports from USER32.dll"]),
        ("a function off the list", GOOD_LISTING.replace("GetVersion", "GetTickCount64"),
         ["imports KERNEL32.dll!GetTickCount64, which is not on the list"]),
        ("an import by ordinal", GOOD_LISTING.replace("  136  GetVersion", "  136"),
         ["imports KERNEL32.dll!<unnamed>, which is not on the list"]),
        ("a newer subsystem", GOOD_LISTING.replace("MajorSubsystemVersion\t4",
                                                   "MajorSubsystemVersion\t5"),
         ["MajorSubsystemVersion is 5, not 4"]),
        ("a newer OS version", GOOD_LISTING.replace("MinorOSystemVersion\t0",
                                                    "MinorOSystemVersion\t1"),
         ["MinorOSystemVersion is 1, not 0"]),
        ("a window program", GOOD_LISTING.replace("00000003\t(Windows CUI)",
                                                  "00000002\t(Windows GUI)"),
         ["Subsystem is 00000002, not 00000003"]),
        ("a 64-bit program", GOOD_LISTING.replace("pei-i386", "pei-x86-64")
         .replace("010b", "020b"),
         ["file format pei-x86-64, not pei-i386", "Magic is 020b, not 010b"]),
        ("delay-loaded imports", GOOD_LISTING.replace("Entry d 00000000 00000000",
                                                      "Entry d 0004e000 00000040"),
         ["delay-loaded imports"]),
        ("no import table", GOOD_LISTING.split("The Import Tables")[0], ["no import table found"]),
    ]
    failed = 0
    for name, listing, expected in cases:
        got = problems_of(listing, allowed)
        if got != expected:
            failed += 1
            print(f"FAIL {name}: expected {expected}, got {got}")
    try:
        read_allowed(["GetVersion"])
        failed += 1
        print("FAIL a list without a heading was accepted")
    except ValueError:
        pass
    print(f"{len(cases) + 1 - failed} of {len(cases) + 1} self-test cases passed")
    return 1 if failed else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--allowed")
    parser.add_argument("--build", nargs=2, metavar=("SOURCE", "BINARY"))
    parser.add_argument("--cmake", default="cmake")
    parser.add_argument("--self-test", action="store_true")
    parser.add_argument("exe", nargs="?")
    args = parser.parse_args()

    if args.self_test:
        return self_test()
    if not args.allowed or bool(args.build) == bool(args.exe):
        parser.error("give --allowed and either EXE or --build SOURCE BINARY")
    with open(args.allowed, encoding="ascii") as listing:
        allowed = read_allowed(listing, args.allowed)

    exe = args.exe
    if args.build:
        if shutil.which(CROSS_COMPILER) is None:
            print(f"skipped: {CROSS_COMPILER} is not installed")
            return SKIPPED
        exe = build(args.build[0], args.build[1], args.cmake)

    problems = problems_of(objdump_listing(exe), allowed)
    for problem in problems:
        print(f"{exe}: {problem}")
    if problems:
        return 1
    print(f"{exe}: Windows 4.0 console program, imports all on the list")
    return 0


if __name__ == "__main__":
    sys.exit(main())
