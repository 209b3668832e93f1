#include "inf/patch_inf.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "inf/inserted_text.h"
#include "platform/posix/posix_files.h"
#include "tests/capture_console.h"
#include "tests/fake_environment.h"
#include "tests/test_util.h"
#include "tests/virtual_files.h"

namespace reg7140 {
namespace {

using test::CaptureConsole;
using test::FakeEnvironment;
using test::FileOp;
using test::VirtualFiles;

constexpr std::string_view kWindir = "C:\\WINDOWS";
constexpr std::string_view kInfPath = "C:\\WINDOWS\\inf\\netzor.inf";
constexpr std::string_view kNewPath = "C:\\WINDOWS\\inf\\netzor.new";

// What a run prints at level 1 and at level 9.
struct Printed {
  std::string_view level1;
  std::string_view level9;
};

constexpr Printed kSilent{"", ""};
constexpr Printed kNoModel{"Could not find support for ZV-7140 in netzor.new file.\n",
                           "reg7140: Errorcode 0 returned from NETZOR.INF on line 536\n"
                           "Could not find support for ZV-7140 in netzor.new file.\n"};
constexpr Printed kNoInstallAddReg{"Could not find AddReg in [pcmcia1.ndi] section.\n",
                                   "reg7140: Errorcode 0 returned from NETZOR.INF on line 580\n"
                                   "Could not find AddReg in [pcmcia1.ndi] section.\n"};
constexpr Printed kNoNdis3Line{"No ndis3 install section found in [ZVPCMCIA.ndi.reg].\n",
                               "reg7140: Errorcode 0 returned from NETZOR.INF on line 686\n"
                               "No ndis3 install section found in [ZVPCMCIA.ndi.reg].\n"};
constexpr Printed kNoNdis3AddReg{"No AddReg value found in [ZVPCMCIA.ndis3] section.\n",
                                 "reg7140: Errorcode 0 returned from NETZOR.INF on line 716\n"
                                 "No AddReg value found in [ZVPCMCIA.ndis3] section.\n"};
constexpr Printed kDataAfterMark{
    "NETZOR.INF holds data after its end of file mark. File not replaced.\n",
    "reg7140: Errorcode 0 returned from NETZOR.INF on line 802\n"
    "NETZOR.INF holds data after its end of file mark. File not replaced.\n"};

std::string replace_all(std::string text, std::string_view from, std::string_view to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

std::string crlf(std::string_view text) { return replace_all(std::string(text), "\n", "\r\n"); }

std::string override_block() {
  std::string block;
  for (std::size_t i = 0; i < kOverrideLineCount; ++i) block += override_line(i);
  return block + "\n";
}

struct Texts {
  std::string input;    // the INF file as stored
  std::string patched;  // the scratch file the job is to write
};

// One annotated text gives both files: lines starting with "+ " stand only in the patched copy,
// "+ <override block>" is the block with its empty line; <CR>, <NUL> and <EOF> stand for a lone
// carriage return, a NUL byte and Ctrl-Z. The copy ends where the text does, at the first Ctrl-Z.
Texts split(std::string_view annotated, bool crlf_input = true) {
  Texts texts;
  std::size_t start = 0;
  while (start < annotated.size()) {
    std::size_t end = annotated.find('\n', start);
    end = end == std::string_view::npos ? annotated.size() : end + 1;
    const std::string_view line = annotated.substr(start, end - start);
    start = end;
    if (line.starts_with("+ <override block>")) {
      texts.patched += override_block();
    } else if (line.starts_with("+ ")) {
      texts.patched += line.substr(2);
    } else {
      texts.input += line;
      texts.patched += line;
    }
  }
  for (std::string* text : {&texts.input, &texts.patched}) {
    *text = replace_all(*text, "<CR>", "\r");
    *text = replace_all(*text, "<NUL>", std::string_view("\0", 1));
    *text = replace_all(*text, "<EOF>", "\x1A");
  }
  texts.patched = crlf(texts.patched.substr(0, texts.patched.find('\x1A')));
  if (crlf_input) texts.input = crlf(texts.input);
  return texts;
}

// The adapter's section chain, one fragment a section; a scenario swaps the fragments it is about.
const std::string kPreamble = R"([Version]
Signature="$CHICAGO$"
Class=Net

[Manufacturer]
%Zorvan%=ZORVAN

)";
const std::string kManufacturer = R"([ZORVAN]
%ZV7140.DeviceDesc%=pcmcia1.ndi,PCMCIA\ZORVAN-NR_32/8_KV-61C7

)";
const std::string kInstall = R"([pcmcia1.ndi]
AddReg=pcmcia1.reg,ZVPCMCIA.ndi.reg
CopyFiles=pcmcia1.CopyFiles

)";
const std::string kFirstReg = R"([pcmcia1.reg]
HKR,,DevLoader,,*ndis
HKR,,DeviceVxDs,,zvnd32.sys

+ <override block>
)";
const std::string kFirstRegUntouched = R"([pcmcia1.reg]
HKR,,DevLoader,,*ndis
HKR,,DeviceVxDs,,zvnd32.sys

)";
const std::string kCopyFiles = R"([pcmcia1.CopyFiles]
zvnd32.sys

)";
const std::string kSecondReg = R"([ZVPCMCIA.ndi.reg]
HKR,Ndi,DeviceID,,"PCMCIA\ZORVAN-NR_32/8_KV-61C7"
HKR,Ndi\Install,ndis3,,"ZVPCMCIA.ndis3"

)";
const std::string kNdis3 = R"([ZVPCMCIA.ndis3]
AddReg=ZVPCMCIA.ndis3.reg

)";
const std::string kNdis3Reg = R"([ZVPCMCIA.ndis3.reg]
HKR,NDIS,LogDriverName,,ZVND32
+ HKR,,MemoryBaseAddress,1,01,00,00,00

)";
const std::string kNdis3RegUntouched = R"([ZVPCMCIA.ndis3.reg]
HKR,NDIS,LogDriverName,,ZVND32

)";
const std::string kStrings = R"([Strings]
Zorvan="Zorvan"
)";

struct Chain {
  std::string preamble = kPreamble;
  std::string manufacturer = kManufacturer;
  std::string install = kInstall;
  std::string first_reg = kFirstReg;
  std::string between = kCopyFiles;
  std::string second_reg = kSecondReg;
  std::string ndis3 = kNdis3;
  std::string ndis3_reg = kNdis3Reg;
  std::string strings = kStrings;

  std::string text() const {
    return preamble + manufacturer + install + first_reg + between + second_reg + ndis3 +
           ndis3_reg + strings;
  }
};

std::string x(std::size_t count) { return std::string(count, 'x'); }

struct Outcome {
  std::string output;
  std::string inf;
  std::string scratch;
  bool scratch_exists = false;
  std::size_t open_handles = 0;
};

Outcome run_job(VirtualFiles& files, int level, FakeEnvironment* environment = nullptr) {
  FakeEnvironment windows;
  windows.set("WINDIR", std::string(kWindir));
  CaptureConsole console;
  patch_inf_file(files, environment != nullptr ? *environment : windows, Reporter{console, level});
  return Outcome{console.text, files.contents(kInfPath), files.contents(kNewPath),
                 files.exists(kNewPath), files.open_handles()};
}

Outcome run_on(const std::string& inf, int level) {
  VirtualFiles files;
  files.put(kInfPath, inf);
  return run_job(files, level);
}

struct Scenario {
  std::string name;
  std::string annotated;
  bool commits;
  Printed printed = kSilent;
  bool crlf_input = true;
};

std::vector<Scenario> scenarios() {
  return {
      {"WholeChain", Chain{}.text(), true},
      {"CommentInFirstRegSection",
       Chain{.first_reg = R"([pcmcia1.reg]
HKR,,DevLoader,,*ndis
+ <override block>
; driver files
HKR,,DeviceVxDs,,zvnd32.sys
; only the first comment line counts
HKR,,EnumPropPages,,"netdi.dll,EnumPropPages"

)"}
           .text(),
       true},
      {"CommentRightAfterHeader",
       Chain{.first_reg = R"([pcmcia1.reg]
+ <override block>
; registry entries of the adapter
HKR,,DevLoader,,*ndis

)"}
           .text(),
       true},
      // The header that ends a commented section is read again, so the next section is found.
      {"CommentedFirstRegSectionFollowedBySecond",
       Chain{.first_reg = R"([pcmcia1.reg]
HKR,,DevLoader,,*ndis
+ <override block>
; driver files
HKR,,DeviceVxDs,,zvnd32.sys
)",
             .between = ""}
           .text(),
       true},
      // Without a comment that header is not tested: only the block goes in.
      {"UncommentedFirstRegSectionFollowedBySecond",
       Chain{.first_reg = R"([pcmcia1.reg]
HKR,,DevLoader,,*ndis
+ <override block>
)",
             .between = "",
             .ndis3_reg = kNdis3RegUntouched}
           .text(),
       true},
      {"OnlyMemoryBaseMissing",
       Chain{.first_reg = R"([pcmcia1.reg]
HKR,,DevLoader,,*ndis
HKR,Override,0000,1,00,04,00,00

)"}
           .text(),
       true},
      // The positions taken at the comment are dropped before the memory base is placed.
      {"CommentThenOverridePresent",
       Chain{.first_reg = R"([pcmcia1.reg]
HKR,,DevLoader,,*ndis
; override entry
HKR,Override,0000,1,00,04,00,00
HKR,,DeviceVxDs,,zvnd32.sys

)"}
           .text(),
       true},
      {"BothEntriesPresent",
       Chain{.first_reg = R"([pcmcia1.reg]
HKR,Override,0000,1,00,04,00,00

)",
             .ndis3_reg = R"([ZVPCMCIA.ndis3.reg]
HKR,,MemoryBaseAddress,1,01,00,00,00

)"}
           .text(),
       false},
      {"OtherMemoryBaseValues",
       Chain{.ndis3_reg = R"([ZVPCMCIA.ndis3.reg]
HKR,,MemoryBaseAddress,1,02,00,00,00
HKR,,MemoryBaseAddress,1,01,00,00
+ HKR,,MemoryBaseAddress,1,01,00,00,00

)"}
           .text(),
       true},
      {"SeveralEmptyLinesInNdis3RegSection",
       Chain{.ndis3_reg = R"([ZVPCMCIA.ndis3.reg]
HKR,NDIS,LogDriverName,,ZVND32
+ HKR,,MemoryBaseAddress,1,01,00,00,00

HKR,NDIS,MajorNdisVersion,1,03


)"}
           .text(),
       true},
      {"NoEmptyLineInNdis3RegSection",
       Chain{.ndis3_reg = R"([ZVPCMCIA.ndis3.reg]
HKR,NDIS,LogDriverName,,ZVND32
+ HKR,,MemoryBaseAddress,1,01,00,00,00
)"}
           .text(),
       true},
      {"Ndis3RegSectionRunsToTheEnd", Chain{.ndis3_reg = kNdis3RegUntouched, .strings = ""}.text(),
       true},
      {"FirstRegSectionRunsToTheEnd", kPreamble + kManufacturer + kInstall + kFirstRegUntouched,
       false},
      {"NoManufacturerSection",
       Chain{.manufacturer = R"([OTHER]
%ZV7140.DeviceDesc%=pcmcia1.ndi,PCMCIA\ZORVAN-NR_32/8_KV-61C7

)",
             .first_reg = kFirstRegUntouched,
             .ndis3_reg = kNdis3RegUntouched}
           .text(),
       false},
      {"NoModelLine",
       Chain{.manufacturer = R"([ZORVAN]
%ZV9999.DeviceDesc%=pcmcia9.ndi,PCMCIA\ZORVAN-OTHER

)",
             .first_reg = kFirstRegUntouched,
             .ndis3_reg = kNdis3RegUntouched}
           .text(),
       false, kNoModel},
      {"NoModelLineInTheLastSection", kPreamble + "[ZORVAN]\n%ZV9999.DeviceDesc%=pcmcia9.ndi\n",
       false},
      {"DeviceIdLetterCaseMatters",
       Chain{.manufacturer = R"([ZORVAN]
%ZV7140.DeviceDesc%=pcmcia1.ndi,pcmcia\zorvan-nr_32/8_kv-61c7

)",
             .first_reg = kFirstRegUntouched,
             .ndis3_reg = kNdis3RegUntouched}
           .text(),
       false, kNoModel},
      {"HeaderHoldingTheDeviceIdIsTheModelLine",
       Chain{.manufacturer = R"([ZORVAN]
[Model]=pcmcia1.ndi,PCMCIA\ZORVAN-NR_32/8_KV-61C7

)"}
           .text(),
       true},
      {"NoInstallAddReg",
       Chain{.install = R"([pcmcia1.ndi]
CopyFiles=pcmcia1.CopyFiles

)",
             .first_reg = kFirstRegUntouched,
             .ndis3_reg = kNdis3RegUntouched}
           .text(),
       false, kNoInstallAddReg},
      // The copy keeps the block, but an abandoned edit is not committed.
      {"NoNdis3Line",
       Chain{.second_reg = R"([ZVPCMCIA.ndi.reg]
HKR,Ndi\Install,ndis2,,"ZVPCMCIA.ndis2"

)",
             .ndis3_reg = kNdis3RegUntouched}
           .text(),
       false, kNoNdis3Line},
      {"NoNdis3AddReg",
       Chain{.ndis3 = R"([ZVPCMCIA.ndis3]
CopyFiles=ZVPCMCIA.ndis3.CopyFiles

)",
             .ndis3_reg = kNdis3RegUntouched}
           .text(),
       false, kNoNdis3AddReg},
      // No line is read in the abandoned state, so the block already inserted is committed.
      {"AbandonOnTheLastLine",
       kPreamble + kManufacturer + kInstall + kFirstReg + kCopyFiles +
           "[ZVPCMCIA.ndi.reg]\nHKR,Ndi,DeviceID,,x\n[Strings]\n",
       true, kNoNdis3Line},
      // Only the first piece of that line is read before the abandon; the rest still counts.
      {"AbandonOnALongLastLine",
       kPreamble + kManufacturer + kInstall + kFirstReg + kCopyFiles +
           "[ZVPCMCIA.ndi.reg]\nHKR,Ndi,DeviceID,,x\n[Strings]" + x(300) + "\n",
       false, kNoNdis3Line},
      {"LetterCaseOfHeadersAndPrefixes",
       Chain{.manufacturer = R"([zorvan]
%ZV7140.DeviceDesc%=pcmcia1.ndi,PCMCIA\ZORVAN-NR_32/8_KV-61C7

)",
             .install = R"([PCMCIA1.NDI]
addreg=pcmcia1.reg,ZVPCMCIA.ndi.reg

)",
             .first_reg = R"([Pcmcia1.Reg]
HKR,,DevLoader,,*ndis
+ <override block>
[pcmcia1.CopyFiles]
)",
             .second_reg = R"([zvpcmcia.NDI.REG]
hkr,ndi\install,NDIS3,,"ZVPCMCIA.ndis3"

)",
             .ndis3 = R"([zvpcmcia.ndis3]
ADDREG=ZVPCMCIA.ndis3.reg

)",
             .ndis3_reg = R"([ZVPCMCIA.NDIS3.REG]
+ HKR,,MemoryBaseAddress,1,01,00,00,00

)"}
           .text(),
       true},
      {"LetterCaseOfPresentEntries",
       Chain{.first_reg = R"([pcmcia1.reg]
hkr,override,0000,1,00,04,00,00

)",
             .ndis3_reg = R"([ZVPCMCIA.ndis3.reg]
hkr,,memorybaseaddress,1,01,00,00,00

)"}
           .text(),
       false},
      {"OnlyAsciiLettersFold",
       Chain{.manufacturer = R"({ZORVAN]
%ZV7140.DeviceDesc%=pcmcia1.ndi,PCMCIA\ZORVAN-NR_32/8_KV-61C7

)",
             .first_reg = kFirstRegUntouched,
             .ndis3_reg = kNdis3RegUntouched}
           .text(),
       false},
      {"OtherBytesCompareAsTheyAre",
       Chain{.manufacturer =
                 "[ZORVAN]\n%ZV7140.DeviceDesc%=pcmcia\xC4.ndi,PCMCIA\\ZORVAN-NR_32/8_KV-61C7\n\n",
             .install = "[pcmcia\xE4.ndi]\nAddReg=pcmcia1.reg,ZVPCMCIA.ndi.reg\n\n",
             .first_reg = kFirstRegUntouched,
             .ndis3_reg = kNdis3RegUntouched}
           .text(),
       false},
      {"BlankAfterModelEquals",
       Chain{.manufacturer = R"([ZORVAN]
%ZV7140.DeviceDesc%= pcmcia1.ndi,PCMCIA\ZORVAN-NR_32/8_KV-61C7

)",
             .first_reg = kFirstRegUntouched,
             .ndis3_reg = kNdis3RegUntouched}
           .text(),
       false},
      {"BlankAfterAddRegComma",
       Chain{.install = R"([pcmcia1.ndi]
AddReg=pcmcia1.reg, ZVPCMCIA.ndi.reg

)",
             .ndis3_reg = kNdis3RegUntouched}
           .text(),
       true},
      {"ThirdAddRegNameStaysInTheSecond",
       Chain{.install = R"([pcmcia1.ndi]
AddReg=pcmcia1.reg,ZVPCMCIA.ndi.reg,pcmcia1.more

)",
             .ndis3_reg = kNdis3RegUntouched}
           .text(),
       true},
      {"NamesKeepInnerBlanks",
       Chain{.install = R"([pcmcia1.ndi]
AddReg=pcmcia1 reg,ZVPCMCIA.ndi.reg ; two sections
)",
             .first_reg = R"([pcmcia1 reg]
HKR,,DevLoader,,*ndis
+ <override block>
)"}
           .text(),
       true},
      {"Ndis3AddRegListingSeveralSections",
       Chain{.ndis3 = R"([ZVPCMCIA.ndis3]
AddReg=ZVPCMCIA.ndis3.reg,ZVPCMCIA.more.reg

)",
             .ndis3_reg = kNdis3RegUntouched}
           .text(),
       true},
      // A name whose start or stop character is missing: "[]", or the rest of the piece.
      {"ModelLineWithoutEquals",
       Chain{.manufacturer = R"([ZORVAN]
%ZV7140.DeviceDesc% pcmcia1.ndi,PCMCIA\ZORVAN-NR_32/8_KV-61C7
[]
AddReg=pcmcia1.reg,ZVPCMCIA.ndi.reg

)"}
           .text(),
       true},
      {"InstallAddRegWithoutComma",
       Chain{.install = R"([pcmcia1.ndi]
AddReg=pcmcia1.reg

)",
             .between = kCopyFiles + R"([]
HKR,Ndi\Install,ndis3,,"ZVPCMCIA.ndis3"

)"}
           .text(),
       true},
      {"Ndis3LineWithoutQuote",
       Chain{.second_reg = R"([ZVPCMCIA.ndi.reg]
HKR,Ndi\Install,ndis3,,ZVPCMCIA.ndis3

)",
             .ndis3 = R"([]
AddReg=ZVPCMCIA.ndis3.reg

)"}
           .text(),
       true},
      {"NameRunsToTheEndOfThePiece",
       Chain{.ndis3 = "[ZVPCMCIA.ndis3]\nAddReg=" + std::string(247, 'r') + "tail\n\n",
             .ndis3_reg =
                 "[" + std::string(247, 'r') + "]\n" + "+ HKR,,MemoryBaseAddress,1,01,00,00,00\n\n"}
           .text(),
       true},
      {"ModelLineEndsTheFileWithoutLineFeed",
       kPreamble + "[ZORVAN]\n%ZV7140.DeviceDesc%=pcmcia1.ndi,PCMCIA\\ZORVAN-NR_32/8_KV-61C7",
       false},
      {"LastHeaderWithoutLineFeed",
       Chain{.ndis3_reg = R"([ZVPCMCIA.ndis3.reg]
+ HKR,,MemoryBaseAddress,1,01,00,00,00
)",
             .strings = "[Strings]"}
           .text(),
       true},
      {"LineFeedLineEnds", Chain{}.text(), true, kSilent, false},
      {"LoneCarriageReturns",
       Chain{.first_reg = R"([pcmcia1.reg]
HKR,,Text,,"a<CR>b"

+ <override block>
)",
             .ndis3_reg = R"([ZVPCMCIA.ndis3.reg]
<CR>
HKR,NDIS,LogDriverName,,ZVND32
+ HKR,,MemoryBaseAddress,1,01,00,00,00

)"}
           .text(),
       true},
      {"NulBytes",
       Chain{.first_reg = R"([pcmcia1.reg]
HKR,,Text,,"a<NUL>b"
<NUL>; not a comment

+ <override block>
)",
             .ndis3_reg = R"([ZVPCMCIA.ndis3.reg]
<NUL>
HKR,NDIS,LogDriverName,,ZVND32
+ HKR,,MemoryBaseAddress,1,01,00,00,00

)"}
           .text(),
       true},
      {"CtrlZEndsTheText", Chain{.strings = kStrings + "<EOF>"}.text(), true},
      {"SeveralCtrlZAtTheEnd", Chain{.strings = kStrings + "<EOF><EOF><EOF>"}.text(), true},
      {"DataAfterCtrlZ", Chain{.strings = kStrings + "<EOF>more text\n[Strings]\n"}.text(), false,
       kDataAfterMark},
      {"DataAfterCtrlZNothingInserted",
       Chain{.first_reg = R"([pcmcia1.reg]
HKR,Override,0000,1,00,04,00,00

)",
             .ndis3_reg = R"([ZVPCMCIA.ndis3.reg]
HKR,,MemoryBaseAddress,1,01,00,00,00
)",
             .strings = "<EOF>[Strings]\n"}
           .text(),
       false},
      {"CtrlZInsideNdis3RegSection",
       Chain{.ndis3_reg = R"([ZVPCMCIA.ndis3.reg]
HKR,NDIS,LogDriverName,,ZVND32
<EOF>
)"}
           .text(),
       false, kDataAfterMark},
      // A long line arrives in pieces of 254 characters; only its first piece is tested.
      {"LongLineWithBracketAtPieceBoundary",
       Chain{.first_reg = "[pcmcia1.reg]\nHKR,,Long,,\"" + x(242) + "[more]\"\n" +
                          "HKR,,DevLoader,,*ndis\n\n+ <override block>\n"}
           .text(),
       true},
      {"LongLinesInNdis3RegSection",
       Chain{.ndis3_reg = "[ZVPCMCIA.ndis3.reg]\nHKR,NDIS,Long,,\"" + x(238) + "\n" +
                          "HKR,NDIS,Other,,\"" + x(237) + "[x]\"\n" +
                          "HKR,NDIS,LogDriverName,,ZVND32\n" +
                          "+ HKR,,MemoryBaseAddress,1,01,00,00,00\n\n"}
           .text(),
       true},
      {"LongRememberedComment",
       Chain{.first_reg = "[pcmcia1.reg]\nHKR,,DevLoader,,*ndis\n+ <override block>\n;" + x(253) +
                          "[ZVPCMCIA.ndi.reg]\nHKR,,DeviceVxDs,,zvnd32.sys\n\n"}
           .text(),
       true},
      {"LongLineBeforeTheManufacturerSection",
       Chain{.preamble = kPreamble + ";" + x(253) + "[ZORVAN]" + x(400) + "\n\n"}.text(), true},
  };
}

void PrintTo(const Scenario& scenario, std::ostream* os) { *os << scenario.name; }

class PatchInfScenario : public testing::TestWithParam<Scenario> {};

TEST_P(PatchInfScenario, WritesTheCopyCommitsAndReports) {
  const Scenario& scenario = GetParam();
  const Texts texts = split(scenario.annotated, scenario.crlf_input);
  for (int level : {0, 1, 9}) {
    SCOPED_TRACE(testing::Message() << "level " << level);
    const Outcome outcome = run_on(texts.input, level);
    // A commit moves the copy into the INF file's place; otherwise the copy stays beside it.
    if (scenario.commits) {
      EXPECT_EQ(outcome.inf, texts.patched);
      EXPECT_FALSE(outcome.scratch_exists);
    } else {
      EXPECT_EQ(outcome.inf, texts.input);
      EXPECT_EQ(outcome.scratch, texts.patched);
    }
    EXPECT_EQ(outcome.open_handles, 0u);
    const std::string_view expected = level == 0   ? std::string_view()
                                      : level == 1 ? scenario.printed.level1
                                                   : scenario.printed.level9;
    EXPECT_EQ(outcome.output, expected);
  }
}

// The host's files must give the very same result as the in-memory disk.
TEST_P(PatchInfScenario, SameOnTheHostsFiles) {
  const Scenario& scenario = GetParam();
  const Texts texts = split(scenario.annotated, scenario.crlf_input);
  test::TempDir dir;
  test::write_file(dir / "inf/netzor.inf", texts.input);
  FakeEnvironment environment;
  environment.set("WINDIR", dir.path().string());
  PosixFiles files;
  CaptureConsole console;
  patch_inf_file(files, environment, Reporter{console, 9});
  EXPECT_EQ(console.text, scenario.printed.level9);
  if (scenario.commits) {
    EXPECT_EQ(test::read_file(dir / "inf/netzor.inf"), texts.patched);
    EXPECT_FALSE(std::filesystem::exists(dir / "inf/netzor.new"));
  } else {
    EXPECT_EQ(test::read_file(dir / "inf/netzor.inf"), texts.input);
    EXPECT_EQ(test::read_file(dir / "inf/netzor.new"), texts.patched);
  }
}

INSTANTIATE_TEST_SUITE_P(Inf, PatchInfScenario, testing::ValuesIn(scenarios()),
                         [](const testing::TestParamInfo<Scenario>& param) {
                           return param.param.name;
                         });

TEST(PatchInf, SecondRunOnACommittedFileChangesNothing) {
  for (const std::string& annotated :
       {Chain{}.text(), Chain{.first_reg = "[pcmcia1.reg]\n+ <override block>\n; first\n\n"}.text(),
        Chain{.ndis3_reg = "[ZVPCMCIA.ndis3.reg]\n+ HKR,,MemoryBaseAddress,1,01,00,00,00\n"}
            .text()}) {
    VirtualFiles files;
    files.put(kInfPath, split(annotated).input);
    run_job(files, 9);
    const std::string committed = files.contents(kInfPath);
    ASSERT_EQ(committed, split(annotated).patched);
    const Outcome second = run_job(files, 9);
    EXPECT_EQ(second.output, "");
    EXPECT_EQ(second.inf, committed);
    EXPECT_EQ(second.scratch, committed);
  }
}

TEST(PatchInf, ReadOnlyInfFileIsMadeWritable) {
  for (const bool inserts : {true, false}) {
    const Texts texts =
        split(inserts ? Chain{}.text() : kPreamble + kManufacturer + kInstall + kFirstRegUntouched);
    VirtualFiles files;
    files.put(kInfPath, texts.input, /*read_only=*/true);
    const Outcome outcome = run_job(files, 9);
    EXPECT_EQ(outcome.output, "");
    ASSERT_TRUE(files.exists(kInfPath));
    EXPECT_FALSE(files.find(kInfPath)->read_only) << "inserts " << inserts;
    EXPECT_EQ(outcome.inf, inserts ? texts.patched : texts.input);
  }
}

TEST(PatchInf, MissingInfFile) {
  VirtualFiles files;
  const Outcome outcome = run_job(files, 9);
  EXPECT_EQ(outcome.output,
            "reg7140: Errorcode 2 returned from fopen on line 486\n"
            "Could not open NETZOR.INF file.\n");
  EXPECT_FALSE(outcome.scratch_exists);
  EXPECT_FALSE(files.exists(kInfPath));
  EXPECT_EQ(outcome.open_handles, 0u);
}

TEST(PatchInf, ScratchFileCannotBeCreated) {
  VirtualFiles files;
  const std::string input = split(Chain{}.text()).input;
  files.put(kInfPath, input);
  files.put(kNewPath, "old copy", /*read_only=*/true);
  const Outcome outcome = run_job(files, 9);
  EXPECT_EQ(outcome.output,
            "reg7140: Errorcode 13 returned from fopen on line 495\n"
            "Could not create netzor.new file.\n");
  EXPECT_EQ(outcome.inf, input);
  EXPECT_EQ(outcome.scratch, "old copy");
  EXPECT_EQ(outcome.open_handles, 0u);
}

struct WindirCase {
  std::string name;
  bool set;
  std::string value;
  std::string_view printed;  // at level 9
};

void PrintTo(const WindirCase& c, std::ostream* os) { *os << c.name; }

class PatchInfWindir : public testing::TestWithParam<WindirCase> {};

TEST_P(PatchInfWindir, PathsComeFromTheWindowsDirectory) {
  const WindirCase& c = GetParam();
  FakeEnvironment environment;
  if (c.set) environment.set("windir", c.value);
  VirtualFiles files;
  const std::string inf_path = c.value + "\\inf\\netzor.inf";
  const Texts texts = split(Chain{}.text());
  files.put(inf_path, texts.input);
  CaptureConsole console;
  patch_inf_file(files, environment, Reporter{console, 9});
  EXPECT_EQ(console.text, c.printed);
  EXPECT_EQ(files.contents(inf_path), texts.input);
  EXPECT_EQ(files.calls(FileOp::kOpen), 0);
}

// A path holds at most 127 characters: "\inf\netzor.inf" (15) after 113 is one too many.
INSTANTIATE_TEST_SUITE_P(
    Inf, PatchInfWindir,
    testing::Values(WindirCase{"Unset", false, "",
                               "reg7140: Errorcode 0 returned from getenv on line "
                               "481\nCould not find Windows directory.\n"},
                    WindirCase{"Empty", true, "",
                               "reg7140: Errorcode 0 returned from getenv on line "
                               "481\nCould not find Windows directory.\n"},
                    WindirCase{"TooLong", true, "C:\\" + x(110),
                               "reg7140: Errorcode 206 returned from getenv on line 482\n"
                               "Path to NETZOR.INF file too long.\n"}),
    [](const testing::TestParamInfo<WindirCase>& param) { return param.param.name; });

// 112 characters and the 15 of "\inf\netzor.inf" just fill the 127.
TEST(PatchInf, LongestWindowsDirectoryThatFits) {
  FakeEnvironment environment;
  const std::string windir = "C:\\" + x(109);
  environment.set("WINDIR", windir);
  VirtualFiles files;
  const Texts texts = split(Chain{}.text());
  files.put(windir + "\\inf\\netzor.inf", texts.input);
  const Outcome outcome = run_job(files, 9, &environment);
  EXPECT_EQ(outcome.output, "");
  EXPECT_EQ(files.contents(windir + "\\inf\\netzor.inf"), texts.patched);
}

// Both insertions go through a rewind, so every kind of file operation is in play.
const std::string kRewindingChain = Chain{.first_reg = R"([pcmcia1.reg]
HKR,,DevLoader,,*ndis
+ <override block>
; driver files
HKR,,DeviceVxDs,,zvnd32.sys

)"}
                                        .text();

struct CleanRun {
  int calls[test::kFileOpCount] = {};
  std::vector<std::string> writes;
};

CleanRun clean_run(const std::string& input) {
  VirtualFiles files;
  files.put(kInfPath, input);
  const Outcome outcome = run_job(files, 9);
  EXPECT_EQ(outcome.output, "");
  EXPECT_NE(outcome.inf, input);
  CleanRun run;
  for (std::size_t op = 0; op < test::kFileOpCount; ++op) {
    run.calls[op] = files.calls(static_cast<FileOp>(op));
  }
  run.writes = files.write_log();
  return run;
}

std::string detailed(int code, std::string_view label, int line, std::string_view message) {
  return "reg7140: Errorcode " + std::to_string(code) + " returned from " + std::string(label) +
         " on line " + std::to_string(line) + "\n" + std::string(message) + "\n";
}

// The report a failure of write number `n` gives, judged by what that write carried.
std::string write_failure_report(const std::vector<std::string>& writes, std::size_t n) {
  std::size_t block_end = 0;  // writes before this index belong to the override block
  for (std::size_t i = 0; i < n; ++i) {
    if (i >= block_end && writes[i] == override_line(0)) block_end = i + kOverrideLineCount + 1;
    if (i + 1 < n) continue;
    const std::string_view override_info = "Could not write override info to netzor.new file.";
    const std::string_view new_key = "Could not write new key to netzor.new file.";
    if (i < block_end) {
      return i + 1 == block_end ? detailed(EIO, "fputs", 642, override_info)
                                : detailed(EIO, "fputs", 636, override_info);
    }
    if (writes[i] == kMemoryBaseLine) return detailed(EIO, "fputs", 763, new_key);
    if (i > 0 && writes[i] == "\n" && writes[i - 1] == kMemoryBaseLine) {
      return detailed(EIO, "fputs", 768, new_key);
    }
  }
  return detailed(EIO, "fputs", 793, "Could not write data to netzor.new file.");
}

struct FaultCase {
  std::string name;
  FileOp op;
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class PatchInfFault : public testing::TestWithParam<FaultCase> {};

// Every failing call of one kind, one at a time: the INF file stays as it was.
TEST_P(PatchInfFault, FailureAtEachCallLeavesTheInfFile) {
  const FileOp op = GetParam().op;
  const std::string input = split(kRewindingChain).input;
  const CleanRun clean = clean_run(input);
  const int count = clean.calls[static_cast<std::size_t>(op)];
  ASSERT_GT(count, 0);
  std::string reports;
  for (int n = 1; n <= count; ++n) {
    SCOPED_TRACE(testing::Message() << "call " << n << " of " << count);
    VirtualFiles files;
    files.put(kInfPath, input);
    files.fail_call(op, n, EIO);
    const Outcome outcome = run_job(files, 9);
    EXPECT_EQ(outcome.inf, input);
    EXPECT_EQ(outcome.open_handles, 0u);
    std::string expected;
    switch (op) {
      case FileOp::kWrite:
        expected = write_failure_report(clean.writes, static_cast<std::size_t>(n));
        break;
      case FileOp::kTell:
      case FileOp::kSeek:
        expected = detailed(EIO, "fseek", 600, "Could not reposition netzor.new file.");
        break;
      case FileOp::kReadLine:
        expected = detailed(EIO, "fgets", 506, "Unexpected end of file.");
        break;
      default:
        FAIL() << "no expectation for this kind of call";
    }
    EXPECT_EQ(outcome.output, expected);
    reports += outcome.output;
  }
  if (op == FileOp::kWrite) {
    // The sweep reaches every place that writes.
    for (const int line : {636, 642, 763, 768, 793}) {
      EXPECT_NE(reports.find("on line " + std::to_string(line) + "\n"), std::string::npos) << line;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Inf, PatchInfFault,
    testing::Values(FaultCase{"Write", FileOp::kWrite}, FaultCase{"Tell", FileOp::kTell},
                    FaultCase{"Seek", FileOp::kSeek}, FaultCase{"ReadLine", FileOp::kReadLine}),
    [](const testing::TestParamInfo<FaultCase>& param) { return param.param.name; });

TEST(PatchInf, OpenFailures) {
  const std::string input = split(Chain{}.text()).input;
  const std::string expected[] = {
      detailed(EACCES, "fopen", 486, "Could not open NETZOR.INF file."),
      detailed(EACCES, "fopen", 495, "Could not create netzor.new file.")};
  for (int n = 1; n <= 2; ++n) {
    VirtualFiles files;
    files.put(kInfPath, input);
    files.fail_call(FileOp::kOpen, n, EACCES);
    const Outcome outcome = run_job(files, 9);
    EXPECT_EQ(outcome.output, expected[n - 1]);
    EXPECT_EQ(outcome.inf, input);
    EXPECT_FALSE(outcome.scratch_exists);
    EXPECT_EQ(outcome.open_handles, 0u);
  }
}

// The input's close is not checked; the scratch file's close decides whether the copy is whole.
TEST(PatchInf, CloseFailures) {
  const Texts texts = split(kRewindingChain);
  const CleanRun clean = clean_run(texts.input);
  ASSERT_EQ(clean.calls[static_cast<std::size_t>(FileOp::kClose)], 2);
  const std::string expected_inf[] = {texts.patched, texts.input};
  const std::string expected_output[] = {
      "", detailed(EIO, "fclose", 793, "Could not write data to netzor.new file.")};
  for (int n = 1; n <= 2; ++n) {
    VirtualFiles files;
    files.put(kInfPath, texts.input);
    files.fail_call(FileOp::kClose, n, EIO);
    const Outcome outcome = run_job(files, 9);
    EXPECT_EQ(outcome.inf, expected_inf[n - 1]) << n;
    EXPECT_EQ(outcome.output, expected_output[n - 1]) << n;
    EXPECT_EQ(outcome.open_handles, 0u);
  }
}

TEST(PatchInf, CloseFailureAfterAFailedWriteGivesOnlyTheWriteReport) {
  const std::string input = split(Chain{}.text()).input;
  VirtualFiles files;
  files.put(kInfPath, input);
  files.fail_call(FileOp::kWrite, 3, ENOSPC);
  files.fail_call(FileOp::kClose, 2, EIO);
  const Outcome outcome = run_job(files, 9);
  EXPECT_EQ(outcome.output,
            detailed(ENOSPC, "fputs", 793, "Could not write data to netzor.new file."));
  EXPECT_EQ(outcome.inf, input);
  EXPECT_EQ(outcome.open_handles, 0u);
}

TEST(PatchInf, ReplaceFailureKeepsTheInfFileAndTheCopy) {
  const Texts texts = split(Chain{}.text());
  for (int level : {1, 9}) {
    VirtualFiles files;
    files.put(kInfPath, texts.input);
    files.fail_call(FileOp::kReplaceFile, 1, EACCES);
    const Outcome outcome = run_job(files, level);
    EXPECT_EQ(outcome.output,
              level == 9 ? detailed(EACCES, "rename", 800, "Could not replace NETZOR.INF file.")
                         : "Could not replace NETZOR.INF file.\n");
    EXPECT_EQ(outcome.inf, texts.input);
    EXPECT_EQ(outcome.scratch, texts.patched);
  }
}

std::string sample_inf() {
  return test::read_file(std::string(REG7140_SOURCE_DIR) + "/tests/data/netzor.inf");
}

// The sample INF file: the block goes in front of the registry section's first comment line and
// the memory base in front of the ndis3 registry section's first empty line.
std::string patched_sample(const std::string& sample) {
  std::string expected = sample;
  const std::size_t ndis3_reg = expected.find("\r\n[ZVPCMCIA.ndis3.reg]\r\n");
  const std::size_t empty = expected.find("\r\n\r\n", ndis3_reg + 2);
  expected.insert(empty + 2, "HKR,,MemoryBaseAddress,1,01,00,00,00\r\n");
  const std::size_t first_reg = expected.find("\r\n[pcmcia1.reg]\r\n");
  const std::size_t comment = expected.find("\r\n;", first_reg + 2);
  expected.insert(comment + 2, crlf(override_block()));
  return expected;
}

TEST(PatchInf, SampleInfFile) {
  const std::string sample = sample_inf();
  ASSERT_FALSE(sample.empty());
  VirtualFiles files;
  files.put(kInfPath, sample);
  const Outcome outcome = run_job(files, 9);
  EXPECT_EQ(outcome.output, "");
  EXPECT_EQ(outcome.inf, patched_sample(sample));
}

// The same job on the host's files: same bytes as on the in-memory disk, read-only cleared.
TEST(PatchInf, RealFiles) {
  test::TempDir dir;
  const std::string sample = sample_inf();
  const auto inf = dir / "inf/netzor.inf";
  test::write_file(inf, sample);
  ASSERT_EQ(chmod(inf.c_str(), 0444), 0);
  FakeEnvironment environment;
  environment.set("WINDIR", dir.path().string());
  PosixFiles files;
  CaptureConsole console;
  patch_inf_file(files, environment, Reporter{console, 9});
  EXPECT_EQ(console.text, "");
  EXPECT_EQ(test::read_file(inf), patched_sample(sample));
  EXPECT_FALSE(std::filesystem::exists(dir / "inf/netzor.new"));
  EXPECT_NE(std::filesystem::status(inf).permissions() & std::filesystem::perms::owner_write,
            std::filesystem::perms::none);

  patch_inf_file(files, environment, Reporter{console, 9});
  EXPECT_EQ(console.text, "");
  EXPECT_EQ(test::read_file(inf), patched_sample(sample));
  EXPECT_EQ(test::read_file(dir / "inf/netzor.new"), patched_sample(sample));
}

}  // namespace
}  // namespace reg7140
