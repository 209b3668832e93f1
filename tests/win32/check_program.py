#!/usr/bin/env python3
"""ALLOWED CMAKE SOURCE BINARY: cross-builds the win95-i686 preset into BINARY and checks
reg7140.exe: a 32-bit console program for Windows 4.0, importing only what the list ALLOWED
allows, whose code sections hold only the 80386's integer instructions (no x87: a 386 or 486SX
may have no coprocessor); 77 (skipped) without MinGW-w64. --self-test LISTINGS: the checks on the
made-up objdump listings and cases of that file."""
import codecs, os, re, shutil, subprocess, sys  # noqa: E401

HEADER = {"file format": "pei-i386", "Magic": "010b", "MajorOSystemVersion": "4",  # PE32
          "MinorOSystemVersion": "0", "MajorSubsystemVersion": "4", "MinorSubsystemVersion": "0",
          "Subsystem": "00000003"}  # console
HERE = os.path.dirname(os.path.abspath(__file__))


def sections(path):
    """{name in lower case: words} from the file's [NAME] headings and the lines below them."""
    return {name.lower(): set(words.split()) for name, words in re.findall(r"^\s*\[(.+?)\]([^[]*)", re.sub(r"#.*", "", open(path).read()), re.M)}


PREFIXES, I386 = (table := sections(os.path.join(HERE, "i386_instructions.txt")))["prefixes"], table["instructions"] | table["prefixes"]
LINE = re.compile(r"^ *([0-9a-f]+):\t([0-9a-f]{2}(?: [0-9a-f]{2})*) *(?:\t(.*))?$")


def why_not_386(raw, text):
    """(mnemonic, why) for an instruction with these bytes and objdump text that is no 386 one."""
    words = text.split()
    while len(words) > 1 and words[0] in PREFIXES: words.pop(0)
    name, operands = words[0], " ".join(words[1:])
    if name == "(bad)" or name.startswith("."): return name, "no instruction"
    if name[0] == "f" and name not in PREFIXES or "%st" in operands: return name, "x87"
    if re.search(r"%[xyz]?mm", operands): return name, "MMX/SSE register"
    if not (name in I386 or name[-1] in "bwl" and name[:-1] in I386 or name == "nop" and raw == "90"):
        return name, "not an 80386 instruction"


def problems(listing, allowed):
    """What is wrong in the output of `objdump -p`, then `-d -z`, and
    how many instructions were checked. The constructor and destructor lists that the linker puts
    in .text are data: each runs from its symbol to its terminating zero word, and is passed over."""
    found = [f"{key} is {v and v[1]}, not {want}" for key, want in HEADER.items()
             if not (v := re.search(rf"(?:^|\s){key}\s+(\S+)", listing, re.M)) or v[1] != want]
    found += ["delay-loaded imports"] * bool(re.search(r"^Entry d \S+ 0*[1-9a-f]", listing, re.M))
    # The import tables run to the next line that does not start with white space; an import by
    # ordinal is named <none>, which no list holds.
    table = re.search(r"^The Import Tables.*\n((?:[ \t].*\n|\n)*)", listing, re.M)
    blocks = table[1].split("DLL Name: ")[1:] if table else []
    found += [f"imports {block.split()[0]}!{name}, which is not on the list" for block in blocks
              for name in re.findall(r"^\t[0-9a-f]+\t *\d+ +(\S+)", block, re.M) if name not in allowed.get(block.split()[0].lower(), ())]
    found += [] if blocks else ["no import table found"]
    found += ["no constructor list symbol (stripped?): its data cannot be told from code"] * (not re.search(r"^[0-9a-f]+ <_*CTOR_LIST__>:$", listing, re.M))
    checked, symbol, in_list, data = 0, "?", False, ""
    for line in listing.splitlines():
        if header := re.match(r"^[0-9a-f]+ <(.+)>:$", line):
            symbol, (in_list, data) = header[1], (True, "") if re.fullmatch("___?[CD]TOR_LIST__", header[1]) else (in_list, data)
        elif line.startswith("Disassembly of section"): symbol, in_list = "?", False
        elif instruction := LINE.match(line):
            address, raw, text = instruction.groups()
            if in_list:
                data += raw.replace(" ", "")
                while in_list and len(data) >= 8: in_list, data = data[:8] != "00000000", data[8:]
            elif text:
                checked += 1
                found += [f"{address} <{symbol}>: {bad[0]} ({bad[1]})" for bad in [why_not_386(raw, text)] if bad]
    return found + ["no instructions found in the code sections"] * (not checked), checked


def self_test(path):
    """Each case of the file: the listing with the case's edits (old => new, Python escapes) must
    give the case's finds."""
    listing, *cases = re.split(r"^=== case\n", open(path, encoding="ascii").read(), flags=re.M)
    failed, allowed = [], {"advapi32.dll": {"RegCloseKey"}, "kernel32.dll": {"GetVersion"}}
    for case in cases:
        edited, lines = listing, re.findall(r"^(\w+) (.*)$", case, re.M)
        for edit in (value for key, value in lines if key == "edit"): edited = edited.replace(*(codecs.decode(side, "unicode_escape") for side in edit.split(" => ")))
        if (found := problems(edited, allowed)[0]) != [value for key, value in lines if key == "find"]: failed.append(f"FAIL {lines}: got {found}")
    return print(*failed, f"{len(cases) - len(failed)} of {len(cases)} self-test cases passed", sep="\n") or int(bool(failed))


def main(allowed="", cmake="", source="", binary=""):
    if allowed == "--self-test": return self_test(cmake)
    if not binary: sys.exit(__doc__)
    if not shutil.which("i686-w64-mingw32-g++-win32"): return print("skipped: MinGW-w64 i686 is not installed") or 77  # CTest's SKIP_RETURN_CODE
    for step in (["--preset", "win95-i686", "-S", source, "-B", binary], ["--build", binary, "--target", "reg7140", "-j2"]):
        subprocess.run([cmake, *step], check=True, stdout=subprocess.DEVNULL)
    exe = os.path.join(binary, "reg7140.exe")
    def objdump(*options): return subprocess.run(["i686-w64-mingw32-objdump", *options, exe], capture_output=True, text=True, check=True).stdout
    found, checked = problems(objdump("-p") + objdump("-d", "-z"), sections(allowed))  # -d takes the sections of code
    summary = f"Windows 4.0 console program, imports all on the list, {checked} instructions, all for a 386 without x87"
    return print(*[f"{exe}: {p}" for p in found or [summary]], sep="\n") or int(bool(found))


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
