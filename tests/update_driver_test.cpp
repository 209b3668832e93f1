// The driver job's decisions, on an in-memory disk.
#include "driver/update_driver.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tests/capture_console.h"
#include "tests/fake_environment.h"
#include "tests/virtual_files.h"

namespace reg7140 {
namespace {

constexpr const char* kInstalled = "C:\\WINDOWS\\system\\zvnd32.sys";
constexpr std::int64_t kSourceTime = 857'000'000;

struct DriverCase {
  const char* name;
  const char* program_path;
  const char* source;                     // where the source disk's file lies; nullptr: nowhere
  std::optional<std::int64_t> installed;  // last-write time of the installed file
  bool installed_read_only;
  bool copied;
  const char* output;  // at level 9
};

class DriverJob : public testing::TestWithParam<DriverCase> {};

TEST_P(DriverJob, DecidesByLastWriteTime) {
  const DriverCase& c = GetParam();
  test::VirtualFiles files;
  if (c.source != nullptr) files.put(c.source, "new driver", false, kSourceTime);
  if (c.installed) files.put(kInstalled, "old driver", c.installed_read_only, *c.installed);
  test::FakeEnvironment environment;
  environment.set("WINDIR", "C:\\WINDOWS");
  test::CaptureConsole console;

  update_driver_file(files, environment, Reporter{console, 9}, c.program_path);

  EXPECT_EQ(console.text, c.output);
  EXPECT_EQ(files.calls(test::FileOp::kCopyFile), c.copied ? 1 : 0);
  if (c.copied) {
    EXPECT_EQ(files.contents(kInstalled), "new driver");
    EXPECT_EQ(files.find(kInstalled)->mtime, kSourceTime);
    // A read-only file is made writable for the copy and stays so.
    EXPECT_FALSE(files.find(kInstalled)->read_only);
  } else if (c.installed) {
    EXPECT_EQ(files.contents(kInstalled), "old driver");
    EXPECT_EQ(files.find(kInstalled)->read_only, c.installed_read_only);
  } else {
    EXPECT_FALSE(files.exists(kInstalled));
  }
}

constexpr const char* kMissingSource =
    "reg7140: Errorcode 2 returned from stat on line 836\n"
    "Could not find driver on source disk. Driver not updated.\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, DriverJob,
    testing::Values(
        DriverCase{"EqualTimes", "A:\\reg7140.exe", "A:\\zvnd32.sys", kSourceTime, false, false,
                   ""},
        DriverCase{"InstalledNewer", "A:\\reg7140.exe", "A:\\zvnd32.sys", kSourceTime + 1, true,
                   false, ""},
        DriverCase{"InstalledOlder", "A:\\reg7140.exe", "A:\\zvnd32.sys", kSourceTime - 1, false,
                   true, ""},
        DriverCase{"InstalledOlderReadOnly", "A:\\reg7140.exe", "A:\\zvnd32.sys", kSourceTime - 60,
                   true, true, ""},
        DriverCase{"InstalledMissing", "A:\\reg7140.exe", "A:\\zvnd32.sys", std::nullopt, false,
                   true, ""},
        DriverCase{"SourceMissing", "A:\\reg7140.exe", nullptr, kSourceTime - 1, true, false,
                   kMissingSource},
        DriverCase{"SourceBesideAnotherProgramOnly", "A:\\reg7140.exe", "B:\\zvnd32.sys",
                   kSourceTime - 1, false, false, kMissingSource},
        DriverCase{"ForwardSlashSeparates", "A:/tools/reg7140.exe", "A:\\tools\\zvnd32.sys",
                   std::nullopt, false, true, ""},
        DriverCase{"LastOfMixedSeparatorsCounts", "A:\\x/y\\z/reg7140.exe",
                   "A:\\x\\y\\z\\zvnd32.sys", std::nullopt, false, true, ""},
        DriverCase{"OnlyLeadingBackslash", "\\reg7140.exe", "\\zvnd32.sys", std::nullopt, false,
                   true, ""}),
    [](const testing::TestParamInfo<DriverCase>& param_info) {
      return std::string(param_info.param.name);
    });

struct DriverFailure {
  const char* name;
  std::string program_path;
  std::optional<std::string> windir;
  bool copy_fails;
  const char* output;
};

class DriverJobFailure : public testing::TestWithParam<DriverFailure> {};

TEST_P(DriverJobFailure, ReportsAndLeavesTheInstalledFile) {
  const DriverFailure& c = GetParam();
  test::VirtualFiles files;
  files.put(c.program_path.substr(0, c.program_path.rfind('\\')) + "\\zvnd32.sys", "new driver",
            false, kSourceTime);
  files.put(kInstalled, "old driver", false, kSourceTime - 1);
  if (c.copy_fails) files.fail_call(test::FileOp::kCopyFile, 1, 28);
  test::FakeEnvironment environment;
  if (c.windir) environment.set("WINDIR", *c.windir);
  test::CaptureConsole console;

  update_driver_file(files, environment, Reporter{console, 9}, c.program_path);

  EXPECT_EQ(console.text, c.output);
  EXPECT_EQ(files.contents(kInstalled), "old driver");
}

const std::string kLongest = "A:\\" + std::string(241, 'd');  // 244: the longest directory

INSTANTIATE_TEST_SUITE_P(
    Cases, DriverJobFailure,
    testing::Values(DriverFailure{"CopyFails", "A:\\reg7140.exe", "C:\\WINDOWS", true,
                                  "reg7140: Errorcode 28 returned from copy on line 845\n"
                                  "Could not copy driver from source disk.\n"},
                    DriverFailure{"WindirUnset", "A:\\reg7140.exe", std::nullopt, false,
                                  "reg7140: Errorcode 0 returned from getenv on line 831\n"
                                  "Could not find Windows directory.\n"},
                    DriverFailure{"WindirEmpty", "A:\\reg7140.exe", "", false,
                                  "reg7140: Errorcode 0 returned from getenv on line 831\n"
                                  "Could not find Windows directory.\n"},
                    DriverFailure{"WindirTooLong", "A:\\reg7140.exe",
                                  "C:\\" + std::string(235, 'w'), false,
                                  "reg7140: Errorcode 206 returned from stat on line 832\n"
                                  "Path to driver file too long.\n"},
                    DriverFailure{"SourceDirectoryTooLong", kLongest + "d\\reg7140.exe",
                                  "C:\\WINDOWS", false,
                                  "reg7140: Errorcode 206 returned from stat on line 832\n"
                                  "Path to driver file too long.\n"}),
    [](const testing::TestParamInfo<DriverFailure>& param_info) {
      return std::string(param_info.param.name);
    });

TEST(DriverJobLimits, LongestPathsThatFitAreUsed) {
  test::VirtualFiles files;
  files.put(kLongest + "\\zvnd32.sys", "new driver", false, kSourceTime);
  const std::string windir = "C:\\" + std::string(234, 'w');  // 237 characters
  test::FakeEnvironment environment;
  environment.set("WINDIR", windir);
  test::CaptureConsole console;
  update_driver_file(files, environment, Reporter{console, 9}, kLongest + "\\reg7140.exe");
  EXPECT_EQ(console.text, "");
  EXPECT_EQ(files.contents(windir + "\\system\\zvnd32.sys"), "new driver");
}

}  // namespace
}  // namespace reg7140
