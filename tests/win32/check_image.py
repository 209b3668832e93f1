#!/usr/bin/env python3
"""--allowed LIST [--cmake CMAKE] --build SOURCE BINARY: what check_imports.py checks, and that
every instruction in reg7140.exe's code sections is one of the 80386's integer instructions, so
that the program runs on a 386 or 486SX without a coprocessor; 77 (skipped) without MinGW-w64.
--self-test: the instruction check on made-up objdump listings."""
import collections, re, subprocess, sys  # noqa: E401

import check_imports

OBJDUMP = "i686-w64-mingw32-objdump"
CC = "o no b c nae ae nb nc e z ne nz be na a nbe s ns p pe np po l nge ge nl le ng g nle".split()
PREFIXES = set("""lock rep repz repe repnz repne data16 data32 addr16 addr32
    cs ds es fs gs ss""".split())
# The 80386's integer instructions as objdump spells them; one that takes a size suffix (b, w, l)
# is listed without it. nop is left out: only its one-byte form 0x90 is a 386 instruction.
I386 = set("""aaa aad aam aas adc add and arpl bound bsf bsr bt btc btr bts call cbtw clc cld cli
    cltd clts cmc cmp cmps cwtd cwtl daa das dec div enter hlt idiv imul in inc ins int int3 into
    iret jcxz jecxz jmp lahf lar lcall lds lea leave les lfs lgdt lgs lidt ljmp lldt lmsw lods loop
    loope loopne loopnz loopz lret lsl lss ltr mov movs movsbl movsbw movswl movzbl movzbw movzwl
    mul neg not or out outs pop popa popf push pusha pushf rcl rcr ret rol ror sahf sal sar sbb
    scas sgdt shl shld shr shrd sidt sldt smsw stc std sti stos str sub test verr verw xchg xlat
    xor""".split())
I386 |= {"j" + cc for cc in CC} | {"set" + cc for cc in CC}
LISTS = {"__CTOR_LIST__", "___CTOR_LIST__", "__DTOR_LIST__", "___DTOR_LIST__"}
LINE = re.compile(r"^ *([0-9a-f]+):\t([0-9a-f]{2}(?: [0-9a-f]{2})*) *(?:\t(.*))?$")


def code_sections(headers):
    """The names of the sections whose flags in `objdump -h` say CODE."""
    return re.findall(r"^ *\d+ (\S+) .*\n\s+.*\bCODE\b", headers, re.M)


def why_not_386(raw, text):
    """Why the instruction with these bytes and this objdump text is no 386 one, or None."""
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
        header = re.match(r"^[0-9a-f]+ <(.+)>:$", line)
        if header:
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


def check_instructions(exe, found, summary):
    """Adds to found each instruction of exe's code sections that is no 386 one and a count per
    mnemonic, or to summary the number of instructions checked."""
    def objdump(*options):
        return subprocess.run([OBJDUMP, *options, exe], capture_output=True, text=True,
                              check=True).stdout
    sections = code_sections(objdump("-h"))
    listing = objdump("-d", "-z", *(f"-j{name}" for name in sections))
    bad, checked = offences(listing)
    if not re.search(r"^[0-9a-f]+ <_*CTOR_LIST__>:$", listing, re.M):
        found.append("no constructor list symbol (stripped?): its data cannot be told from code")
    found += [f"{address} <{symbol}>: {text} ({why})" for address, symbol, text, _, why in bad]
    counts = collections.Counter(name for *_, name, _ in bad)
    if counts:
        found.append("not for a 386: "
                     + ", ".join(f"{name} {n}" for name, n in counts.most_common()))
    if not sections or not checked:
        found.append(f"no instructions found in the code sections {sections}")
    summary.append(f"{checked} instructions in {', '.join(sections)}, all for a 386 without x87")


HEADERS = """Idx Name          Size      VMA       LMA       File off  Algn
  0 .text         000052a4  00401000  00401000  00000600  2**2
                  CONTENTS, ALLOC, LOAD, READONLY, CODE, DATA
  1 .data         00000028  00407000  00407000  00005a00  2**2
                  CONTENTS, ALLOC, LOAD, DATA
  2 .init         00000010  00408000  00408000  00005c00  2**2
                  CONTENTS, ALLOC, LOAD, READONLY, CODE
"""
CLEAN = """
Disassembly of section .text:

00401000 <_start>:
  401000:\t55                   \tpush   %ebp
  401001:\t89 e5                \tmov    %esp,%ebp
  401003:\tf3 ab                \trep stos %eax,%es:(%edi)
  401005:\t0f b6 45 08          \tmovzbl 0x8(%ebp),%eax
  401009:\tc7 04 24 00 00 00 00 \tmovl   $0x0,(%esp)
  401010:\t0f 94 c0             \tsete   %al
  401013:\t99                   \tcltd
  401014:\tf0 0f ab 02          \tlock bts %eax,(%edx)
  401018:\t66 90                \txchg   %ax,%ax
  40101a:\t90                   \tnop
  40101b:\t8d b4 26 00 00 00 00 \tlea    0x0(%esi,%eiz,1),%esi
  401022:\tc2 08 00             \tret    $0x8

00401028 <__CTOR_LIST__>:
  401028:\tff                   \t(bad)
  401029:\tff ff                \t(bad)
  40102b:\tff                   \t.byte 0xff

0040102c <.ctors.65535>:
  40102c:\t80 10 40 00          \tandb   $0x0,0x40(%eax)
  401030:\t00 00                \tadd    %al,(%eax)
  401032:\t00 00                \tadd    %al,(%eax)

00401034 <__DTOR_LIST__>:
  401034:\tff                   \t(bad)
  401035:\tff                   \t(bad)
  401036:\tff                   \t(bad)
  401037:\tff 00                \tincl   (%eax)
  401039:\t00 00                \tadd    %al,(%eax)
  40103b:\t00                   \t.byte 0x0
  40103c:\tc9                   \tleave
"""
X87 = ("  40101a:\t90                   \tnop", "  40101a:\tdd 40 18 \tfldl   0x18(%eax)\n"
       "  40101d:\t9b \tfwait\n  40101e:\tdd d8 \tfstp   %st(0)")
IMAGE_CASES = [  # what the clean listing becomes, and what the check must find in it
    ((("movl  ", "cmovl "), ("sete ", "cmove")),
     [("401009", "_start", "cmovl", "not an 80386 instruction"),
      ("401010", "_start", "cmove", "not an 80386 instruction")]),
    ((X87,), [("40101a", "_start", "fldl", "x87"), ("40101d", "_start", "fwait", "x87"),
              ("40101e", "_start", "fstp", "x87")]),
    ((("\tmovzbl", "\t(bad)"),), [("401005", "_start", "(bad)", "no instruction")]),
    ((("\tleave", "\t(bad)"),), [("40103c", "__DTOR_LIST__", "(bad)", "no instruction")]),
    ((("__CTOR_LIST__", "ctor_list"),), [("401028", "ctor_list", "(bad)", "no instruction"),
      ("401029", "ctor_list", "(bad)", "no instruction"),
      ("40102b", "ctor_list", ".byte", "no instruction")]),
    ((("90                   \tnop", "0f 1f 00             \tnopl (%eax)"),
      ("\txchg   %ax,%ax", "\tcs nopw (%eax)")),
     [("401018", "_start", "nopw", "not an 80386 instruction"),
      ("40101a", "_start", "nopl", "not an 80386 instruction")]),
    ((("66 90                \txchg   %ax,%ax", "66 0f 6e c0          \tmovd %eax,%xmm0"),),
     [("401018", "_start", "movd", "MMX/SSE register")]),
    ((("\tlock bts", "\tlock cmpxchg"), ("cltd", "cpuid"), ("%ax,%ax", "%eax"),
      ("xchg   %eax", "bswap  %eax")),
     [("401013", "_start", "cpuid", "not an 80386 instruction"),
      ("401014", "_start", "cmpxchg", "not an 80386 instruction"),
      ("401018", "_start", "bswap", "not an 80386 instruction")])]


def image_self_test():
    failed = [] if code_sections(HEADERS) == [".text", ".init"] else ["FAIL code sections"]
    if offences(CLEAN)[1] != 13:
        failed.append(f"FAIL the clean listing: {offences(CLEAN)[1]} instructions checked, not 13")
    for edits, want in [((), [])] + IMAGE_CASES:
        listing = CLEAN
        for edit in edits:
            listing = listing.replace(*edit)
        if (got := [(a, s, name, why) for a, s, _, name, why in offences(listing)[0]]) != want:
            failed.append(f"FAIL {edits}: expected {want}, got {got}")
    print(*failed, f"{len(IMAGE_CASES) + 1 - len(failed)} of {len(IMAGE_CASES) + 1} image "
          "self-test cases passed", sep="\n")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(check_imports.main(__doc__, (image_self_test,), (check_instructions,)))
