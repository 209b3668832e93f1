// Program control: the switch parse, the usage text, the report forms and the version gate.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/report.h"
#include "app/switches.h"
#include "app/version_gate.h"
#include "tests/capture_console.h"

namespace reg7140 {
namespace {

struct SwitchCase {
  std::vector<const char*> arguments;  // after argument 0
  bool accepted;
  int report_level;
  bool update_files;
};

class SwitchParse : public testing::TestWithParam<SwitchCase> {};

TEST_P(SwitchParse, ReadsLevelAndInstallSwitch) {
  std::vector<const char*> argv = {"reg7140"};
  argv.insert(argv.end(), GetParam().arguments.begin(), GetParam().arguments.end());
  Switches switches;
  EXPECT_EQ(parse_switches(argv, &switches), GetParam().accepted);
  EXPECT_EQ(switches.report_level, GetParam().report_level);
  EXPECT_EQ(switches.update_files, GetParam().update_files);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SwitchParse,
    testing::Values(SwitchCase{{}, true, 0, true}, SwitchCase{{"/D"}, true, 1, true},
                    SwitchCase{{"-d9"}, true, 9, true}, SwitchCase{{"/D0"}, true, 0, true},
                    SwitchCase{{"/D5"}, true, 5, true}, SwitchCase{{"/D12"}, true, 1, true},
                    SwitchCase{{"/D9x"}, true, 9, true}, SwitchCase{{"/Dx"}, true, 1, true},
                    SwitchCase{{"/D9", "/D1"}, true, 1, true},
                    SwitchCase{{"/INST"}, true, 0, false}, SwitchCase{{"-inst"}, true, 0, false},
                    SwitchCase{{"/Inst"}, true, 0, false},
                    SwitchCase{{"/iNsT", "/D"}, true, 1, false},
                    SwitchCase{{"/install"}, true, 0, true}, SwitchCase{{"/i"}, true, 0, true},
                    SwitchCase{{"/inst2"}, true, 0, true}, SwitchCase{{"/I"}, true, 0, true},
                    // The parse stops at the first bad argument; what came before stays set.
                    SwitchCase{{"/x"}, false, 0, true}, SwitchCase{{"-"}, false, 0, true},
                    SwitchCase{{"/"}, false, 0, true}, SwitchCase{{"D9"}, false, 0, true},
                    SwitchCase{{"inst"}, false, 0, true}, SwitchCase{{""}, false, 0, true},
                    SwitchCase{{"/D9", "x", "/D1"}, false, 9, true},
                    SwitchCase{{"/inst", "/E", "/D3"}, false, 0, false}));

TEST(Usage, TextByteForByte) {
  test::CaptureConsole console;
  print_usage(console, kBadCommandLine);
  EXPECT_EQ(console.text,
            "Could not parse command line\n"
            "\n"
            "\tUsage: Reg7140 [/D[Level]]\n"
            "\n"
            "\t/D enables error messages:\n"
            "\t\tLevel 0 : No output generated\n"
            "\t\t      1 : Error messages displayed (default)\n"
            "\t\t      9 : Detailed error messages displayed\n");
}

struct ReportCase {
  int level;
  const ReportSite* site;
  long code;
  const char* expected;
};

class ReportForms : public testing::TestWithParam<ReportCase> {};

TEST_P(ReportForms, PrintsTheFormTheLevelSelects) {
  test::CaptureConsole console;
  report_error(Reporter{console, GetParam().level}, *GetParam().site, GetParam().code);
  EXPECT_EQ(console.text, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReportForms,
    testing::Values(
        ReportCase{0, &site::kOpenDevice, 2, ""},
        ReportCase{1, &site::kOpenDevice, 2, "ZV-7140 not previously installed on PC.\n"},
        ReportCase{5, &site::kOpenDevice, 2, "ZV-7140 not previously installed on PC.\n"},
        ReportCase{9, &site::kOpenDevice, 2,
                   "reg7140: Errorcode 2 returned from RegOpenKeyEx on line 249\n"
                   "ZV-7140 not previously installed on PC.\n"},
        ReportCase{-1, &site::kOpenDevice, 2, "ZV-7140 not previously installed on PC.\n"},
        // Sites with codes of their own ignore what the caller passes.
        ReportCase{9, &site::kNoRoom, 7,
                   "reg7140: Errorcode 0 returned from RegQueryValueEx on line 314\n"
                   "Not enough room for Memory Base configuration.\n"},
        ReportCase{9, &site::kNoSourceDriver, 0,
                   "reg7140: Errorcode 2 returned from stat on line 836\n"
                   "Could not find driver on source disk. Driver not updated.\n"},
        ReportCase{9, &site::kSetOverride, -2147483647L - 1,
                   "reg7140: Errorcode -2147483648 returned from RegSetValueEx on line 390\n"
                   "Could not set ZV-7140 override CIS value.\n"}));

class FakeVersion : public VersionSource {
 public:
  FakeVersion(std::uint32_t version, bool ex_ok, std::uint32_t platform, std::uint32_t major)
      : version_(version), ex_ok_(ex_ok), platform_(platform), major_(major) {}
  std::uint32_t get_version() override { return version_; }
  bool get_version_ex(OsVersionInfo* info) override {
    size_seen = info->dwOSVersionInfoSize;
    if (!ex_ok_) return false;
    info->dwPlatformId = platform_;
    info->dwMajorVersion = major_;
    info->dwMinorVersion = 77;
    return true;
  }
  std::uint32_t size_seen = 0;

 private:
  std::uint32_t version_;
  bool ex_ok_;
  std::uint32_t platform_;
  std::uint32_t major_;
};

struct GateCase {
  const char* name;
  std::uint32_t version;
  bool ex_ok;
  std::uint32_t platform;
  std::uint32_t major;
  const ReportSite* refusal;  // nullptr: passes
};

class VersionGate : public testing::TestWithParam<GateCase> {};

TEST_P(VersionGate, RefusesAtTheFirstFailingTest) {
  const GateCase& c = GetParam();
  FakeVersion version(c.version, c.ex_ok, c.platform, c.major);
  for (int level : {0, 1, 9}) {
    test::CaptureConsole console;
    const bool passed = check_windows_version(version, Reporter{console, level});
    EXPECT_EQ(passed, c.refusal == nullptr);
    std::string expected;
    if (c.refusal != nullptr && level == 1) expected = "This program requires Windows 95\n";
    if (c.refusal != nullptr && level == 9) {
      expected = "reg7140: Errorcode 0 returned from " + std::string(c.refusal->label) +
                 " on line " + std::to_string(c.refusal->line) +
                 "\nThis program requires Windows 95\n";
    }
    EXPECT_EQ(console.text, expected) << "level " << level;
  }
  if ((c.version & 0x80000000u) != 0) {
    EXPECT_EQ(version.size_seen, 148u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, VersionGate,
    testing::Values(GateCase{"NtFamily", 0x05650004u, true, 1, 4, &site::kVersionNotWin9x},
                    GateCase{"QueryFails", 0xC3B60004u, false, 1, 4, &site::kVersionQueryFailed},
                    GateCase{"PlatformIdZero", 0xC3B60004u, true, 0, 4, &site::kVersionPlatformId},
                    GateCase{"PlatformIdNt", 0xC3B60004u, true, 2, 4, &site::kVersionPlatformId},
                    GateCase{"Major3", 0xC3B60003u, true, 1, 3, &site::kVersionMajor},
                    GateCase{"Windows95", 0xC3B60004u, true, 1, 4, nullptr},
                    GateCase{"Major5", 0xC3B60005u, true, 1, 5, nullptr},
                    GateCase{"MajorHuge", 0x80000000u, true, 1, 0xFFFFFFFFu, nullptr}),
    [](const testing::TestParamInfo<GateCase>& param_info) {
      return std::string(param_info.param.name);
    });

}  // namespace
}  // namespace reg7140
