// The version gate and the registry job on the sample machine's registry file, as a run calls
// them, every call failing in turn, alone or with the save at the end: a failure the table names
// is reported and ends the run or the job, every key is closed, the job always saves, and a failed
// save leaves the file as it was. Then the gate's refusal of a platform no machine presents.
#include "registry/update_registry.h"

#include <gtest/gtest.h>

#include "app/version_gate.h"
#include "platform/registry_version.h"
#include "tests/fault.h"
#include "tests/test_util.h"

namespace reg7140 {
namespace {

TEST(RegistryJob, EveryCallFailingInTurn) {
  std::map<std::string, std::string> reports;
  for (const auto& row : test::load_table("data/registry_run_reports.txt"))
    reports[row[0]] = row[1];
  const std::string machine = test::read_file(test::data_path("../sample/WINDOWS/system.reg"));
  const auto run = [&](test::Fault& fault) {
    SCOPED_TRACE(fault.at);
    test::TempDir dir;
    test::write_file(dir / "system.reg", machine);
    test::FaultRegistry registry((dir / "system.reg").string(), fault, 5);
    test::Host host;
    RegistryVersionSource version(registry);
    const bool refused = !check_windows_version(version, Reporter{host, 9});
    if (!refused) update_registry(registry, Reporter{host, 9});
    const bool reported = reports.contains(fault.failed) && fault.failed != "flush";
    const bool save_fails = !refused && (fault.also.contains("flush") || fault.failed == "flush");
    EXPECT_EQ(host.text,
              (reported ? reports[fault.failed] : "") + (save_fails ? reports["flush"] : ""));
    EXPECT_TRUE(registry.open.empty());
    EXPECT_EQ(fault.last, refused ? fault.failed : "flush");
    EXPECT_EQ(fault.calls, reported ? fault.at + !refused : fault.calls);
    EXPECT_TRUE(!save_fails || test::read_file(dir / "system.reg") == machine);
  };
  EXPECT_GT(test::each_fault(run), 15);
  EXPECT_GT(test::each_fault(run, {"flush"}), 15);
}

// An NT machine's key is closed once seen; a platform that no machine presents is refused too.
TEST(VersionGate, RefusesNtAndAnotherPlatform) {
  test::TempDir dir;
  test::write_file(
      dir / "system.reg",
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion]\n");
  test::Fault none;
  test::FaultRegistry registry((dir / "system.reg").string(), none, 0);
  RegistryVersionSource nt(registry);
  struct : VersionSource {
    std::uint32_t get_version() override { return 0xC0000004; }
    bool get_version_ex(OsVersionInfo* info) override { return info->dwPlatformId = 2, true; }
  } other;
  test::Host host;
  EXPECT_FALSE(check_windows_version(nt, Reporter{host, 9}) ||
               check_windows_version(other, Reporter{host, 9}));
  EXPECT_TRUE(registry.open.empty());
  EXPECT_EQ(host.text,
            "reg7140: Errorcode 0 returned from GetVersion on line 152\n"
            "This program requires Windows 95\n"
            "reg7140: Errorcode 0 returned from GetVersionEx on line 162\n"
            "This program requires Windows 95\n");
}

}  // namespace
}  // namespace reg7140
