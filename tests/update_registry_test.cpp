// The registry job against a real registry file, every call failing in turn, alone or with the
// save at the end: the report, the keys closed, and what the job leaves in the file.
#include "registry/update_registry.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/posix/file_registry.h"
#include "tests/capture_console.h"
#include "tests/fault.h"
#include "tests/test_util.h"

namespace reg7140 {
namespace {

// Standard output that notes whether a key was open when something was printed.
struct KeyWatchingConsole : test::CaptureConsole {
  explicit KeyWatchingConsole(const test::FaultRegistry& r) : registry(r) {}
  void write(std::string_view output) override {
    keys_open_at_report = keys_open_at_report || !registry.open.empty();
    CaptureConsole::write(output);
  }
  const test::FaultRegistry& registry;
  bool keys_open_at_report = false;
};

TEST(RegistryJob, EveryCallFailingInTurn) {
  std::map<std::string, std::string> reports;
  for (const auto& row : test::load_table("data/registry_reports.txt"))
    reports[row[0]] = "reg7140: Errorcode 5 returned from " + row[1];
  const std::string machine = test::read_file(test::data_path("../sample/WINDOWS/system.reg"));
  for (const std::string also : {"", "flush"}) {
    int runs = 0;
    test::each_fault(
        [&](test::Fault& fault) {
          SCOPED_TRACE(testing::Message() << "call " << fault.at << " " << also);
          test::TempDir dir;
          test::write_file(dir / "system.reg", machine);
          FileRegistry store((dir / "system.reg").string());
          test::FaultRegistry registry(store, fault, 5);
          KeyWatchingConsole console(registry);
          update_registry(registry, Reporter{console, 9});
          ++runs;
          // A reported failure ends the job, which then saves; a failed save keeps the file.
          const bool reported = reports.contains(fault.failed);
          std::string expected = reported ? reports[fault.failed] : "";
          if (!also.empty() && fault.failed != "flush") expected += reports["flush"];
          EXPECT_EQ(console.text, expected);
          EXPECT_FALSE(console.keys_open_at_report);
          EXPECT_TRUE(registry.open.empty());
          EXPECT_EQ(fault.last, "flush");
          EXPECT_EQ(fault.calls, reported && fault.failed != "flush" ? fault.at + 1 : fault.calls);
          if (!also.empty() || fault.failed == "flush") {
            EXPECT_EQ(test::read_file(dir / "system.reg"), machine);
          }
        },
        {also});
    EXPECT_GT(runs, 20);
  }
}

}  // namespace
}  // namespace reg7140
