// The version gate's refusal of a platform that no machine presents: every other switch and
// version is a whole-run scenario.
#include <gtest/gtest.h>

#include "app/version_gate.h"
#include "tests/capture_console.h"

namespace reg7140 {
namespace {

struct OtherPlatform : VersionSource {
  std::uint32_t platform = 0;
  std::uint32_t get_version() override { return 0xC0000004; }
  bool get_version_ex(OsVersionInfo* info) override {
    info->dwPlatformId = platform;
    info->dwMajorVersion = 4;
    return true;
  }
};

TEST(VersionGate, RefusesAnotherPlatform) {
  for (const std::uint32_t platform : {0u, 2u}) {
    OtherPlatform version;
    version.platform = platform;
    test::CaptureConsole console;
    EXPECT_FALSE(check_windows_version(version, Reporter{console, 9}));
    EXPECT_EQ(console.text,
              "reg7140: Errorcode 0 returned from GetVersionEx on line 162\n"
              "This program requires Windows 95\n");
  }
}

}  // namespace
}  // namespace reg7140
