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
  for (const std::string also : {"", "flush"}) {
    const int runs = test::each_fault(
        [&](test::Fault& fault) {
          SCOPED_TRACE(fault.at);
          test::TempDir dir;
          test::write_file(dir / "system.reg", machine);
          test::FaultRegistry registry((dir / "system.reg").string(), fault, 5);
          test::Host host;
          RegistryVersionSource version(registry);
          const bool refused = !check_windows_version(version, Reporter{host, 9});
          if (!refused) update_registry(registry, Reporter{host, 9});
          const bool reported = reports.contains(fault.failed) && fault.failed != "flush";
          const bool saved = !refused && (!also.empty() || fault.failed == "flush");
          EXPECT_EQ(host.text,
                    (reported ? reports[fault.failed] : "") + (saved ? reports["flush"] : ""));
          EXPECT_TRUE(registry.open.empty());
          EXPECT_EQ(fault.last, refused ? fault.failed : "flush");
          EXPECT_EQ(fault.calls, reported ? fault.at + !refused : fault.calls);
          EXPECT_TRUE(!saved || test::read_file(dir / "system.reg") == machine);
        },
        {also});
    EXPECT_GT(runs, 15);
  }
}

TEST(VersionGate, RefusesAnotherPlatform) {
  struct : VersionSource {
    std::uint32_t get_version() override { return 0xC0000004; }
    bool get_version_ex(OsVersionInfo* info) override {
      return info->dwPlatformId = 2, info->dwMajorVersion = 4, true;
    }
  } version;
  test::Host host;
  EXPECT_FALSE(check_windows_version(version, Reporter{host, 9}));
  EXPECT_EQ(host.text,
            "reg7140: Errorcode 0 returned from GetVersionEx on line 162\n"
            "This program requires Windows 95\n");
}

}  // namespace
}  // namespace reg7140
