// The registry job against a real registry file: every call failing in turn, and what the job
// leaves in the file.
#include "registry/update_registry.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/posix/file_registry.h"
#include "tests/capture_console.h"
#include "tests/fault_registry.h"
#include "tests/test_util.h"

namespace reg7140 {
namespace {

// What a failing call reports at level 9 (after "reg7140: Errorcode 5 returned from "); calls
// that are not listed fail without a report and the job goes on.
const std::map<std::string, std::string> kReports = {
    {"open ENUM\\PCMCIA", "RegOpenKeyEx on line 241\nUnable to access PCMCIA Key on machine.\n"},
    {"open ENUM\\PCMCIA\\ZORVAN-NR_32/8_KV-61C7",
     "RegOpenKeyEx on line 249\nZV-7140 not previously installed on PC.\n"},
    {"open ENUM\\PCMCIA\\ZORVAN-NR_32/8_KV-61C7\\0\\LogConfig",
     "RegOpenKeyEx on line 257\nCould not access ZV-7140 LogConfig on PCCARD 0.\n"},
    {"open ENUM\\PCMCIA\\ZORVAN-NR_32/8_KV-61C7\\0",
     "RegOpenKeyEx on line 276\nCould not access ZV-7140 configuration on PCCARD 0.\n"},
    {"set ForcedConfig",
     "RegSetValueEx on line 341\nCould not override ForcedConfig parameter in ZV-7140 ENUM key.\n"},
    {"query DRIVER",
     "RegQueryValueEx on line 352\nCould not access driver parameter for ZV-7140.\n"},
    {"open System\\CurrentControlSet\\Services\\Class\\Net\\0000",
     "RegOpenKeyEx on line 363\nCould not access ZV-7140 Net path.\n"},
    {"set MemoryBaseAddress",
     "RegSetValueEx on line 370\nCould not add MemorybaseAddress parameter in ZV-7140 "
     "parameters.\n"},
    {"create Override", "RegCreateKeyEx on line 377\nCould not create ZV-7140 override CIS key.\n"},
    {"set 0000", "RegSetValueEx on line 390\nCould not set ZV-7140 override CIS value.\n"},
    {"flush", "RegFlushKey on line 394\nCould not save the registry.\n"},
};

// Standard output that notes whether a key was open when something was printed.
class KeyWatchingConsole : public test::CaptureConsole {
 public:
  explicit KeyWatchingConsole(const test::FaultRegistry& registry) : registry_(registry) {}
  void write(std::string_view output) override {
    keys_open_at_report = keys_open_at_report || !registry_.open.empty();
    CaptureConsole::write(output);
  }
  bool keys_open_at_report = false;

 private:
  const test::FaultRegistry& registry_;
};

// The Nth call fails, alone or with the save at the end: the failure is reported with every key
// closed, a reporting failure ends the job, the job always ends by saving, and a failed save
// leaves the file as it was.
TEST(RegistryJob, EveryCallFailingInTurn) {
  const std::string machine = test::read_file(test::data_path("../sample/WINDOWS/system.reg"));
  std::size_t clean_calls = 0;
  for (int fail_at = 1; fail_at == 1 || static_cast<std::size_t>(fail_at) <= clean_calls;
       ++fail_at) {
    for (bool flush_fails : {false, true}) {
      SCOPED_TRACE(testing::Message() << "call " << fail_at << (flush_fails ? ", save fails" : ""));
      test::TempDir dir;
      test::write_file(dir / "system.reg", machine);
      FileRegistry store((dir / "system.reg").string());
      test::FaultRegistry registry(store, fail_at, 5);
      registry.fail_flush = flush_fails;
      KeyWatchingConsole console(registry);
      update_registry(registry, Reporter{console, 9});
      if (clean_calls == 0) {
        // The job makes more calls than the first failure lets it.
        test::TempDir clean_dir;
        test::write_file(clean_dir / "system.reg", machine);
        FileRegistry clean_store((clean_dir / "system.reg").string());
        test::FaultRegistry clean(clean_store, 0, 0);
        update_registry(clean, Reporter{console, 9});
        clean_calls = clean.calls.size();
      }

      const std::string failed = registry.calls.at(static_cast<std::size_t>(fail_at) - 1);
      const auto report = kReports.find(failed);
      std::string expected;
      if (report != kReports.end())
        expected = "reg7140: Errorcode 5 returned from " + report->second;
      if (flush_fails && failed != "flush") {
        expected += "reg7140: Errorcode 5 returned from " + kReports.at("flush");
      }
      EXPECT_EQ(console.text, expected);
      EXPECT_FALSE(console.keys_open_at_report);
      EXPECT_TRUE(registry.open.empty());
      EXPECT_EQ(registry.calls.back(), "flush");
      if (report != kReports.end() && failed != "flush") {
        EXPECT_EQ(registry.calls.size(), static_cast<std::size_t>(fail_at) + 1);
      }
      if (flush_fails || failed == "flush") {
        EXPECT_EQ(test::read_file(dir / "system.reg"), machine);
      }
    }
  }
  EXPECT_GT(clean_calls, 20u);
}

}  // namespace
}  // namespace reg7140
