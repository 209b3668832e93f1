// Program control where the scenarios cannot reach: every switch form, and the version gate's
// refusals on versions that no machine presents.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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
                    SwitchCase{{"/D0"}, true, 0, true}, SwitchCase{{"/D9x"}, true, 9, true},
                    SwitchCase{{"/Dx"}, true, 1, true}, SwitchCase{{"-inst"}, true, 0, false},
                    SwitchCase{{"/install"}, true, 0, true}, SwitchCase{{"/i"}, true, 0, true},
                    SwitchCase{{"/inst2"}, true, 0, true}, SwitchCase{{"-"}, false, 0, true},
                    SwitchCase{{""}, false, 0, true},
                    SwitchCase{{"/inst", "/E", "/D3"}, false, 0, false}));

class FakeVersion : public VersionSource {
 public:
  FakeVersion(std::uint32_t version, bool ex_ok, std::uint32_t platform, std::uint32_t major)
      : version_(version), ex_ok_(ex_ok), platform_(platform), major_(major) {}
  std::uint32_t get_version() override { return version_; }
  bool get_version_ex(OsVersionInfo* info) override {
    if (!ex_ok_ || info->dwOSVersionInfoSize != 148) return false;
    info->dwPlatformId = platform_;
    info->dwMajorVersion = major_;
    return true;
  }

 private:
  std::uint32_t version_, ex_ok_, platform_, major_;
};

struct GateCase {
  std::uint32_t version;
  bool ex_ok;
  std::uint32_t platform;
  std::uint32_t major;
  const char* refusal;  // the first line of the detailed report; nullptr: passes
};

class VersionGate : public testing::TestWithParam<GateCase> {};

TEST_P(VersionGate, RefusesAtTheFirstFailingTest) {
  const GateCase& c = GetParam();
  FakeVersion version(c.version, c.ex_ok, c.platform, c.major);
  test::CaptureConsole console;
  EXPECT_EQ(check_windows_version(version, Reporter{console, 9}), c.refusal == nullptr);
  EXPECT_EQ(console.text, c.refusal == nullptr
                              ? ""
                              : std::string(c.refusal) + "\nThis program requires Windows 95\n");
}

constexpr const char* kExFailed = "reg7140: Errorcode 0 returned from GetVersionEx on line 158";
INSTANTIATE_TEST_SUITE_P(
    Table, VersionGate,
    testing::Values(GateCase{0x7FFFFFFF, true, 1, 4,
                             "reg7140: Errorcode 0 returned from GetVersion on line 152"},
                    GateCase{0x80000000, false, 1, 4, kExFailed},
                    GateCase{0xC0000004, true, 2, 4,
                             "reg7140: Errorcode 0 returned from GetVersionEx on line 162"},
                    GateCase{0xC0000004, true, 0, 4,
                             "reg7140: Errorcode 0 returned from GetVersionEx on line 162"},
                    GateCase{0xC0000004, true, 1, 3,
                             "reg7140: Errorcode 0 returned from GetVersionEx on line 166"},
                    GateCase{0xC0000004, true, 1, 4, nullptr},
                    GateCase{0x80000000, true, 1, 0xFFFFFFFF, nullptr}));

}  // namespace
}  // namespace reg7140
