#include "platform/registry_version.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/posix/file_registry.h"
#include "tests/fault_registry.h"
#include "tests/test_util.h"

namespace reg7140 {
namespace {

// The machines of tests/data/versions.txt. The queries only read, and close every key they open.
TEST(RegistryVersion, AnswersFromTheRegistry) {
  const auto rows = test::load_table("data/versions.txt");
  ASSERT_GT(rows.size(), 15u);
  for (const auto& row : rows) {
    SCOPED_TRACE(row[0]);
    ASSERT_EQ(row.size(), 4u);
    std::string text = "REGEDIT4\r\n\r\n";
    if (row[1].starts_with("nt")) {
      text += "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion]\r\n";
    }
    if (row[1] == "9x" || row[1] == "nt") {
      text += "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion]\r\n";
      text +=
          row[2] == "-" ? "\"Version\"=\"Windows 95\"\r\n" : "\"VersionNumber\"=" + row[2] + "\r\n";
    }
    test::TempDir dir;
    test::write_file(dir / "system.reg", text);
    FileRegistry file((dir / "system.reg").string());
    test::FaultRegistry registry(file, 0, kErrorSuccess);
    RegistryVersionSource source(registry);

    EXPECT_EQ((source.get_version() & 0x80000000u) == 0, row[1].starts_with("nt"));
    OsVersionInfo info{};
    info.dwOSVersionInfoSize = kOsVersionInfoSize;
    const bool answered = source.get_version_ex(&info);
    EXPECT_EQ(answered, row[3] != "fails");
    if (answered) {
      EXPECT_EQ(info.dwPlatformId, kVerPlatformWin32Windows);
      EXPECT_EQ(std::to_string(info.dwMajorVersion) + " " + std::to_string(info.dwMinorVersion) +
                    " " + std::to_string(info.dwBuildNumber),
                row[3]);
      EXPECT_EQ(info.dwOSVersionInfoSize, kOsVersionInfoSize);
    }
    EXPECT_TRUE(registry.open.empty());
    for (const std::string& call : registry.calls) {
      EXPECT_TRUE(call.starts_with("open ") || call.starts_with("query ")) << call;
    }
    EXPECT_EQ(test::read_file(dir / "system.reg"), text);
  }
}

TEST(RegistryVersion, WrongRecordSizeFails) {
  test::TempDir dir;
  test::write_file(dir / "system.reg",
                   "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\"
                   "CurrentVersion]\r\n\"VersionNumber\"=\"4.00.950\"\r\n");
  FileRegistry registry((dir / "system.reg").string());
  RegistryVersionSource source(registry);
  for (std::uint32_t size : {0u, 147u, 149u, 156u}) {
    OsVersionInfo info{};
    info.dwOSVersionInfoSize = size;
    EXPECT_FALSE(source.get_version_ex(&info)) << size;
    EXPECT_EQ(info.dwPlatformId, 0u);
  }
  EXPECT_FALSE(source.get_version_ex(nullptr));
}

}  // namespace
}  // namespace reg7140
