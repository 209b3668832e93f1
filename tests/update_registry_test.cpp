// The registry job against a real registry file, with each of its calls failing in turn.
#include "registry/update_registry.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <string>

#include "platform/posix/file_registry.h"
#include "registry/override_image.h"
#include "tests/capture_console.h"
#include "tests/fault_registry.h"
#include "tests/test_util.h"

namespace reg7140 {
namespace {

constexpr const char* kInstance = "Enum\\PCMCIA\\ZORVAN-NR_32/8_KV-61C7\\0";
constexpr const char* kLogConfig = "Enum\\PCMCIA\\ZORVAN-NR_32/8_KV-61C7\\0\\LogConfig";
constexpr const char* kClass = "System\\CurrentControlSet\\Services\\Class\\Net\\0000";
constexpr const char* kOverride = "System\\CurrentControlSet\\Services\\Class\\Net\\0000\\Override";

// The adapter as installed: logical configurations 0000, 0001 and 0004, a forced configuration
// with an anchor record and no memory record, DRIVER naming Net\0000.
const char* const kMachine =
    "REGEDIT4\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\PCMCIA\\ZORVAN-NR_32/8_KV-61C7\\0]\r\n"
    "\"Driver\"=\"Net\\\\0000\"\r\n"
    "\"ForcedConfig\"=hex:00,04,00,00,00,20,00,00,19,00,00,00,7c,89,00,00,00,00,02,00,32,32,32,"
    "\\\r\n"
    "  02,f0,03,00,00,00,00,00,3f,03,00,00,00,00\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\PCMCIA\\ZORVAN-NR_32/8_KV-61C7\\0\\LogConfig]\r\n"
    "\"0000\"=hex:01\r\n\"0001\"=hex:02\r\n\"0004\"=hex:03\r\n\"0010\"=hex:04\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Net\\0000]\r\n"
    "\"DriverDesc\"=\"ZV-7140\"\r\n";

// What a clean run calls, in order (closes aside), and what failing each call reports.
struct Step {
  const char* call;
  const ReportSite* report;  // nullptr: the failure is ignored and the job goes on
};
const std::array<Step, 22> kSteps = {{
    {"open ENUM\\PCMCIA", &site::kOpenPcmcia},
    {"open ENUM\\PCMCIA\\ZORVAN-NR_32/8_KV-61C7", &site::kOpenDevice},
    {"open ENUM\\PCMCIA\\ZORVAN-NR_32/8_KV-61C7\\0\\LogConfig", &site::kOpenLogConfig},
    {"delete 0000", nullptr},
    {"delete 0001", nullptr},
    {"delete 0002", nullptr},
    {"delete 0003", nullptr},
    {"delete 0004", nullptr},
    {"delete 0005", nullptr},
    {"delete 0006", nullptr},
    {"delete 0007", nullptr},
    {"delete 0008", nullptr},
    {"delete 0009", nullptr},
    {"open ENUM\\PCMCIA\\ZORVAN-NR_32/8_KV-61C7\\0", &site::kOpenInstance},
    {"query ForcedConfig", nullptr},
    {"set ForcedConfig", &site::kSetForcedConfig},
    {"query DRIVER", &site::kQueryDriver},
    {"open System\\CurrentControlSet\\Services\\Class\\Net\\0000", &site::kOpenClassKey},
    {"set MemoryBaseAddress", &site::kSetMemoryBase},
    {"create Override", &site::kCreateOverride},
    {"set 0000", &site::kSetOverride},
    {"flush", &site::kFlushRegistry},
}};

// The changes a clean run makes, each with the step (from 1) that makes it.
struct Change {
  int step;
  const char* key;
  const char* value;
};
const std::array<Change, 7> kChanges = {{
    {4, kLogConfig, "0000"},
    {5, kLogConfig, "0001"},
    {8, kLogConfig, "0004"},
    {16, kInstance, "ForcedConfig"},
    {19, kClass, "MemoryBaseAddress"},
    {20, kOverride, nullptr},
    {21, kOverride, "0000"},
}};

// Whether a change can be seen in the registry file.
bool change_made(Registry& registry, const Change& change) {
  KeyHandle key = kNoKey;
  if (registry.open_key(change.key, KeyAccess::kRead, &key) != kErrorSuccess) {
    // Without its key a change of a value under it is not made either.
    return false;
  }
  if (change.value == nullptr) {
    registry.close_key(key);
    return true;
  }
  std::array<std::uint8_t, 512> data{};
  std::uint32_t type = 0;
  std::uint32_t size = data.size();
  const RegStatus status = registry.query_value(key, change.value, &type, data, &size);
  registry.close_key(key);
  if (std::string_view(change.key) == kLogConfig) return status == kErrorFileNotFound;
  if (std::string_view(change.value) == "ForcedConfig") return status == 0 && size == 37 + 52;
  if (std::string_view(change.value) == "0000") {
    return status == 0 && type == kRegBinary &&
           std::equal(kOverrideImage.begin(), kOverrideImage.end(), data.begin()) &&
           size == kOverrideImage.size();
  }
  return status == 0 && size == 4 && data[0] == 1;
}

class RegistryFaults : public testing::TestWithParam<std::tuple<int, bool>> {};

std::string report(const ReportSite& site, int level) {
  if (level == 0) return "";
  std::string text;
  if (level == 9) {
    text = "reg7140: Errorcode 5 returned from " + std::string(site.label) + " on line " +
           std::to_string(site.line) + "\n";
  }
  return text + std::string(site.message) + "\n";
}

// The Nth call fails, and with it, or alone, the save at the end: what was changed before the
// failure is saved unless the save fails, and then nothing is.
TEST_P(RegistryFaults, NthCallFailing) {
  const auto [fail_at, flush_fails] = GetParam();
  const Step& step = kSteps[static_cast<std::size_t>(fail_at - 1)];
  const bool is_flush = fail_at == static_cast<int>(kSteps.size());
  for (int level : {0, 1, 9}) {
    test::TempDir dir;
    test::write_file(dir / "system.reg", kMachine);
    FileRegistry store((dir / "system.reg").string());
    test::FaultRegistry registry(store, fail_at, 5);
    registry.fail_flush = flush_fails;
    test::CaptureConsole console;
    update_registry(registry, Reporter{console, level});

    ASSERT_GE(registry.calls.size(), static_cast<std::size_t>(fail_at));
    EXPECT_EQ(registry.calls[static_cast<std::size_t>(fail_at - 1)], step.call);
    std::string expected = step.report != nullptr ? report(*step.report, level) : "";
    if (flush_fails && !is_flush) expected += report(site::kFlushRegistry, level);
    EXPECT_EQ(console.text, expected) << "level " << level;
    // A failure that ends the job ends it there, and the save follows.
    // An unreadable ForcedConfig is not written back: one call fewer.
    const std::size_t calls_made = step.report != nullptr ? static_cast<std::size_t>(fail_at) + 1
                                   : fail_at == 15        ? kSteps.size() - 1
                                                          : kSteps.size();
    EXPECT_EQ(registry.calls.size(), std::min(calls_made, kSteps.size()));
    EXPECT_EQ(registry.calls.back(), "flush");

    // What was changed before the failure is saved; nothing after a job-ending failure is done.
    FileRegistry reread((dir / "system.reg").string());
    for (const Change& change : kChanges) {
      const bool expected_made =
          !flush_fails && !is_flush && change.step != fail_at &&
          (change.step < fail_at || step.report == nullptr) &&
          !(fail_at == 15 && change.step == 16);  // an unreadable ForcedConfig is left alone
      EXPECT_EQ(change_made(reread, change), expected_made)
          << "change at step " << change.step << ", level " << level;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(EveryCall, RegistryFaults,
                         testing::Combine(testing::Range(1, 23), testing::Bool()));

TEST(RegistryJob, CleanRunMakesEveryChangeAndClosesEveryKey) {
  test::TempDir dir;
  test::write_file(dir / "system.reg", kMachine);
  FileRegistry store((dir / "system.reg").string());
  test::FaultRegistry registry(store, 0, 0);
  test::CaptureConsole console;
  update_registry(registry, Reporter{console, 9});
  EXPECT_EQ(console.text, "");
  ASSERT_EQ(registry.calls.size(), kSteps.size());
  for (std::size_t i = 0; i < kSteps.size(); ++i) EXPECT_EQ(registry.calls[i], kSteps[i].call);
  // Enumerator, device, LogConfig, instance, override, class.
  EXPECT_EQ(registry.closes.size(), 6u);
  FileRegistry reread((dir / "system.reg").string());
  for (const Change& change : kChanges) EXPECT_TRUE(change_made(reread, change)) << change.step;
}

}  // namespace
}  // namespace reg7140

namespace reg7140 {
namespace {

std::string replace_all(std::string text, std::string_view old, std::string_view with) {
  for (std::size_t at = text.find(old); at != std::string::npos;
       at = text.find(old, at + with.size())) {
    text.replace(at, old.size(), with);
  }
  return text;
}

std::string replace_once(std::string text, std::string_view old, std::string_view with) {
  const std::size_t at = text.find(old);
  EXPECT_NE(at, std::string::npos) << old;
  if (at != std::string::npos) text.replace(at, old.size(), with);
  return text;
}

// The registry job on the sample machine's registry, as shipped, with LF line ends, and with
// comments and blank lines between its keys: the file afterwards is the file before with exactly
// the job's changes, each in its place and in the file's line ends.
TEST(RegistryJob, SampleMachineChangesOnlyWhatTheJobChanges) {
  const std::string sample = test::read_file(test::data_path("../sample/WINDOWS/system.reg"));
  for (const char* variant : {"as shipped", "LF line ends", "comments"}) {
    SCOPED_TRACE(variant);
    std::string before = sample;
    std::string eol = "\r\n";
    if (variant == std::string_view("LF line ends")) {
      before = replace_all(before, "\r\n", "\n");
      eol = "\n";
    } else if (variant == std::string_view("comments")) {
      before = replace_all(before, "\r\n[", "\r\n; next key\r\n\r\n[");
    }
    const auto lines = [&eol](std::initializer_list<std::string_view> text) {
      std::string out;
      for (std::string_view line : text) out += std::string(line) + eol;
      return out;
    };
    const std::string log_value =
        lines({"=hex:00,04,00,00,00,10,00,00,14,00,00,00,04,00,00,00,00,00,00,00,ff,ff,\\",
               "  00,00,30,00,00,00,00,00,00,00"});
    std::string expected = replace_once(
        before,
        lines({"\"ForcedConfig\"=hex:00,04,00,00,00,20,00,00,24,00,00,00,02,00,00,00,01,00,0c,\\",
               "  00,00,00,00,00,00,00,00,00,e0,ff,20,00,00,00,ff,ff,00,00,00,00,45,00,00,00,\\",
               "  14,00,00,00,04,00,00,00,00,00,00,00,ff,ff,00,00,30,00,00,00,19,00,00,00,7c,\\",
               "  89,00,00,00,00,02,00,32,32,32,02,f0,03,00,00,00,00,00,3f,03,00,00,00,00"}),
        lines(
            {"\"ForcedConfig\"=hex:00,04,00,00,00,20,00,00,24,00,00,00,02,00,00,00,01,00,0c,00,\\",
             "  00,00,00,00,00,00,00,00,e0,ff,20,00,00,00,ff,ff,00,00,00,00,45,00,00,00,14,\\",
             "  00,00,00,04,00,00,00,00,00,00,00,ff,ff,00,00,30,00,00,00,34,00,00,00,01,00,\\",
             "  00,00,01,00,14,00,00,00,0c,00,ff,0f,0c,00,00,00,00,00,00,f0,ff,ff,00,10,00,\\",
             "  00,00,00,00,00,ff,ff,ff,ff,00,00,00,00,02,00,00,00,00,00,00,00,19,00,00,00,\\",
             "  7c,89,00,00,00,00,02,00,32,32,32,02,f0,03,00,00,00,00,00,3f,03,00,00,00,00"}));
    for (const char* name : {"\"0000\"", "\"0001\"", "\"0004\""}) {
      expected = replace_once(expected, name + log_value, "");
    }
    expected =
        replace_once(expected, lines({"\"DevLoader\"=\"*ndis\""}),
                     lines({"\"DevLoader\"=\"*ndis\"", "\"MemoryBaseAddress\"=hex:01,00,00,00"}));
    expected = replace_once(
        expected, lines({"\"DeviceID\"=\"PCMCIA\\\\ZORVAN-NR_32/8_KV-61C7\""}),
        lines({"\"DeviceID\"=\"PCMCIA\\\\ZORVAN-NR_32/8_KV-61C7\"", "",
               "[HKEY_LOCAL_"
               "MACHINE\\System\\CurrentControlSet\\Services\\Class\\Net\\0000\\Override]",
               ";class=\"MyClass\"",
               "\"0000\"=hex:00,04,00,00,00,20,00,00,24,00,00,00,02,00,00,00,01,00,0c,00,00,00,\\",
               "  00,00,00,00,00,00,e0,ff,20,00,00,00,ff,ff,00,00,00,00,45,00,00,00,14,00,00,\\",
               "  00,04,00,00,00,00,00,00,00,ff,ff,00,00,30,00,00,00,34,00,00,00,01,00,00,00,\\",
               "  01,00,14,00,00,00,00,00,00,00,00,00,00,00,00,00,00,f0,ff,ff,00,10,00,00,00,\\",
               "  00,00,00,ff,ff,ff,ff,00,00,00,00,02,00,00,00,00,00,00,00,19,00,00,00,7c,89,\\",
               "  00,00,00,00,02,00,32,32,32,02,f0,03,00,00,00,00,00,3f,03,00,00,00,00"}));

    test::TempDir dir;
    test::write_file(dir / "system.reg", before);
    FileRegistry store((dir / "system.reg").string());
    test::CaptureConsole console;
    update_registry(store, Reporter{console, 9});
    EXPECT_EQ(console.text, "");
    EXPECT_EQ(test::read_file(dir / "system.reg"), expected);
  }
}

}  // namespace
}  // namespace reg7140
