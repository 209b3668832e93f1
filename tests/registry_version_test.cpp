#include "platform/registry_version.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/posix/file_registry.h"
#include "tests/fault.h"
#include "tests/test_util.h"

namespace reg7140 {
namespace {

// The machines of tests/data/versions.txt; the queries close every key they open. A caller's
// record must be as long as the one Windows defines (148 bytes).
TEST(RegistryVersion, AnswersFromTheRegistry) {
  for (const auto& row : test::load_table("data/versions.txt")) {
    SCOPED_TRACE(row[0]);
    std::string text = "REGEDIT4\r\n\r\n";
    if (row[1].starts_with("nt")) {
      text += "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion]\r\n";
    }
    if (row[1] == "9x" || row[1] == "nt") {
      text += "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion]\r\n\"" +
              (row[2] == "-" ? "Version\"=\"Windows 95\"" : "VersionNumber\"=" + row[2]) + "\r\n";
    }
    test::TempDir dir;
    test::write_file(dir / "system.reg", text);
    FileRegistry file((dir / "system.reg").string());
    test::Fault none;
    test::FaultRegistry registry(file, none, kErrorSuccess);
    RegistryVersionSource source(registry);

    EXPECT_EQ(source.get_version() >> 31, row[1].starts_with("nt") ? 0u : 1u);
    for (const std::uint32_t size : {148u, 0u, 147u, 149u}) {
      OsVersionInfo info{};
      info.dwOSVersionInfoSize = size;
      const bool answered = source.get_version_ex(&info);
      EXPECT_EQ(answered ? std::to_string(info.dwPlatformId) + ": " +
                               std::to_string(info.dwMajorVersion) + " " +
                               std::to_string(info.dwMinorVersion) + " " +
                               std::to_string(info.dwBuildNumber)
                         : "fails",
                size == 148 && row[3] != "fails" ? "1: " + row[3] : "fails");
    }
    EXPECT_FALSE(source.get_version_ex(nullptr));
    EXPECT_TRUE(registry.open.empty());
  }
}

}  // namespace
}  // namespace reg7140
