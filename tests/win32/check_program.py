#!/usr/bin/env python3
"""--allowed LIST [--cmake CMAKE] --build SOURCE BINARY: cross-builds the win95-i686 preset and
checks reg7140.exe: a 32-bit console program for Windows 4.0, importing only what LIST allows,
whose code sections hold only the 80386's integer instructions (no x87: a 386 or 486SX may have
no coprocessor); 77 (skipped) without MinGW-w64. --self-test LISTINGS: the checks on the made-up
objdump listings and cases of that file."""
import argparse, codecs, collections, os, re, shutil, subprocess, sys  # noqa: E401

CROSS_COMPILER, OBJDUMP = "i686-w64-mingw32-g++-win32", "i686-w64-mingw32-objdump"
HEADER = {"file format": "pei-i386", "Magic": "010b", "MajorOSystemVersion": "4",  # PE32
          "MinorOSystemVersion": "0", "MajorSubsystemVersion": "4", "MinorSubsystemVersion": "0",
          "Subsystem": "00000003"}  # console
CC = "o no b c nae ae nb nc e z ne nz be na a nbe s ns p pe np po l nge ge nl le ng g nle".split()
PREFIXES = set("lock rep repz repe repnz repne data16 data32 addr16 addr32 cs ds es fs gs ss".split())
# The 80386's integer instructions as objdump spells them; one that takes a size suffix (b, w, l)
# is listed without it. nop is left out: only its one-byte form 0x90 is a 386 instruction.
I386 = set("""aaa aad aam aas adc add and arpl bound bsf bsr bt btc btr bts call cbtw clc cld cli
    cltd clts cmc cmp cmps cwtd cwtl daa das dec div enter hlt idiv imul in inc ins int int3 into
    iret jcxz jecxz jmp lahf lar lcall lds lea leave les lfs lgdt lgs lidt ljmp lldt lmsw lods loop
    loope loopne loopnz loopz lret lsl lss ltr mov movs movsbl movsbw movswl movzbl movzbw movzwl
    mul neg not or out outs pop popa popf push pusha pushf rcl rcr ret rol ror sahf sal sar sbb
    scas sgdt shl shld shr shrd sidt sldt smsw stc std sti stos str sub test verr verw xchg xlat
    xor""".split()) | {"j" + cc for cc in CC} | {"set" + cc for cc in CC}
LISTS = {"__CTOR_LIST__", "___CTOR_LIST__", "__DTOR_LIST__", "___DTOR_LIST__"}
LINE = re.compile(r"^ *([0-9a-f]+):\t([0-9a-f]{2}(?: [0-9a-f]{2})*) *(?:\t(.*))?$")


def read_allowed(text):
    """{dll in lower case: function names} from the list's [DLL] headings and the lines below."""
    sections = re.findall(r"^\s*\[(.+?)\]([^[]*)", re.sub(r"#.*", "", text), re.M)
    return {dll.lower(): set(names.split()) for dll, names in sections}


def import_problems(listing, allowed):
    """What is wrong with the header and imports that `objdump -p` listed."""
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


def code_sections(headers):
    """The names of the sections whose flags in `objdump -h` say CODE."""
    return re.findall(r"^ *\d+ (\S+) .*\n\s+.*\bCODE\b", headers, re.M)


def why_not_386(raw, text):
    """(mnemonic, why) for an instruction with these bytes and objdump text that is no 386 one."""
    words = text.split()
    while len(words) > 1 and words[0] in PREFIXES:
        words.pop(0)
    name, operands = words[0], " ".join(words[1:])
    if name == "(bad)" or name.startswith("."):
        return name, "no instruction"
    if name[0] == "f" and name not in PREFIXES or "%st" in operands:
        return name, "x87"
    if re.search(r"%[xyz]?mm", operands):
        return name, "MMX/SSE register"
    if name in I386 | PREFIXES or name[-1] in "bwl" and name[:-1] in I386:
        return None
    if name == "nop" and raw == "90":  # 0F 1F nopl and nopw came with the Pentium Pro
        return None
    return name, "not an 80386 instruction"


def offences(listing):
    """[(address, symbol, text, mnemonic, why)] for every instruction of the `objdump -d -z`
    listing that is no 386 one, and the number checked. The constructor and destructor lists
    that the linker puts in .text are data: each runs from its symbol to its terminating zero
    word, and is passed over."""
    found, checked, symbol, in_list, data = [], 0, "?", False, ""
    for line in listing.splitlines():
        if header := re.match(r"^[0-9a-f]+ <(.+)>:$", line):
            symbol = header[1]
            if symbol in LISTS:
                in_list, data = True, ""
        elif line.startswith("Disassembly of section"):
            symbol, in_list = "?", False
        elif instruction := LINE.match(line):
            address, raw, text = instruction.groups()
            if in_list:
                data += raw.replace(" ", "")
                while in_list and len(data) >= 8:
                    in_list, data = data[:8] != "00000000", data[8:]
            elif text:
                checked += 1
                if bad := why_not_386(raw, text):
                    found.append((address, symbol, text.strip(), *bad))
    return found, checked


def self_test(path):
    """Each case of the file: its listing with the case's edits, checked; its finds expected."""
    listings, cases = {}, []
    for block in re.split(r"^=== ", open(path, encoding="ascii").read(), flags=re.M)[1:]:
        head, _, body = block.partition("\n")
        kind, _, tool = head.partition(" ")
        if kind == "listing":
            listings[tool] = body
        else:
            cases.append((tool, re.findall(r"^(\w+) (.*)$", body, re.M)))
    failed, allowed = [], read_allowed("[advapi32.dll]\nRegCloseKey\n[KERNEL32.dll] # [x]\nGetVersion\n")
    if code_sections(listings["objdump -h"]) != [".text", ".init"]:
        failed.append("FAIL code sections")
    for tool, lines in cases:
        listing, want, count = listings[tool], [], None
        for key, value in lines:
            if key == "edit":
                listing = listing.replace(*(codecs.decode(side, "unicode_escape")
                                            for side in value.split(" => ")))
            want += [value] if key == "find" else []
            count = int(value) if key == "instructions" else count
        if tool == "objdump -p":
            got = import_problems(listing, allowed)
        else:
            bad, checked = offences(listing)
            got = [f"{a} <{s}>: {name} ({why})" for a, s, _, name, why in bad]
            got += [] if count in (None, checked) else [f"{checked} instructions checked"]
        if got != want:
            failed.append(f"FAIL {lines}: expected {want}, got {got}")
    print(*failed, f"{len(cases) - len(failed)} of {len(cases)} self-test cases passed", sep="\n")
    return 1 if failed else 0


def check(exe, allowed):
    """The problems of the built program, or the one-line summary of a good one."""
    def objdump(*options):
        return subprocess.run([OBJDUMP, *options, exe], capture_output=True, text=True,
                              check=True).stdout
    found = import_problems(objdump("-p"), allowed)
    sections = code_sections(objdump("-h"))
    listing = objdump("-d", "-z", *(f"-j{name}" for name in sections))
    bad, checked = offences(listing)
    if not re.search(r"^[0-9a-f]+ <_*CTOR_LIST__>:$", listing, re.M):
        found.append("no constructor list symbol (stripped?): its data cannot be told from code")
    found += [f"{address} <{symbol}>: {text} ({why})" for address, symbol, text, _, why in bad]
    if counts := collections.Counter(name for *_, name, _ in bad):
        found.append("not for a 386: " + ", ".join(f"{n} {c}" for n, c in counts.most_common()))
    if not sections or not checked:
        found.append(f"no instructions found in the code sections {sections}")
    return found, (f"Windows 4.0 console program, imports all on the list, {checked} instructions"
                   f" in {', '.join(sections)}, all for a 386 without x87")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--allowed")
    parser.add_argument("--build", nargs=2, metavar=("SOURCE", "BINARY"))
    parser.add_argument("--cmake", default="cmake")
    parser.add_argument("--self-test", metavar="LISTINGS")
    args = parser.parse_args()
    if args.self_test:
        return self_test(args.self_test)
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
        exe = os.path.join(binary, "reg7140.exe")
        found, summary = check(exe, read_allowed(listing.read()))
    print(*([f"{exe}: {problem}" for problem in found] or [f"{exe}: {summary}"]), sep="\n")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
