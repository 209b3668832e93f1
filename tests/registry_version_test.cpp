#include "platform/registry_version.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/posix/file_registry.h"
#include "tests/test_util.h"

namespace reg7140 {
namespace {

// Passes every call on to the file registry and counts the keys left open.
class CountingRegistry : public Registry {
 public:
  explicit CountingRegistry(Registry& inner) : inner_(inner) {}
  RegStatus open_key(std::string_view path, KeyAccess access, KeyHandle* key) override {
    RegStatus status = inner_.open_key(path, access, key);
    if (status == kErrorSuccess) ++open_;
    if (access != KeyAccess::kRead) ++writable_opens_;
    return status;
  }
  RegStatus create_key(KeyHandle parent, std::string_view subkey, std::string_view class_name,
                       KeyHandle* key, std::uint32_t* disposition) override {
    ++changes_;
    return inner_.create_key(parent, subkey, class_name, key, disposition);
  }
  RegStatus query_value(KeyHandle key, std::string_view name, std::uint32_t* type,
                        std::span<std::uint8_t> buffer, std::uint32_t* size) override {
    return inner_.query_value(key, name, type, buffer, size);
  }
  RegStatus set_value(KeyHandle key, std::string_view name, std::uint32_t type,
                      std::span<const std::uint8_t> data) override {
    ++changes_;
    return inner_.set_value(key, name, type, data);
  }
  RegStatus delete_value(KeyHandle key, std::string_view name) override {
    ++changes_;
    return inner_.delete_value(key, name);
  }
  void close_key(KeyHandle key) override {
    --open_;
    inner_.close_key(key);
  }

  int open_ = 0;
  int writable_opens_ = 0;
  int changes_ = 0;

 private:
  Registry& inner_;
};

struct VersionCase {
  const char* label;
  std::string keys;  // REGEDIT4 lines after the header
  bool nt;
  bool ex_ok;
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t build = 0;
};

const std::string kVersionKey =
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion]\r\n";
const std::string kNtKey =
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion]\r\n";

std::string version_number(const std::string& data) {
  return kVersionKey + "\"VersionNumber\"=" + data + "\r\n";
}

class RegistryVersion : public testing::TestWithParam<VersionCase> {};

TEST_P(RegistryVersion, AnswersFromTheRegistry) {
  const VersionCase& c = GetParam();
  test::TempDir dir;
  auto path = dir / "system.reg";
  test::write_file(path, "REGEDIT4\r\n\r\n" + c.keys);
  FileRegistry file(path.string());
  CountingRegistry registry(file);
  RegistryVersionSource source(registry);

  std::uint32_t version = source.get_version();
  EXPECT_EQ((version & 0x80000000u) == 0, c.nt);

  OsVersionInfo info{};
  info.dwOSVersionInfoSize = kOsVersionInfoSize;
  info.dwMajorVersion = 77;
  ASSERT_EQ(source.get_version_ex(&info), c.ex_ok);
  if (c.ex_ok) {
    EXPECT_EQ(info.dwPlatformId, kVerPlatformWin32Windows);
    EXPECT_EQ(info.dwMajorVersion, c.major);
    EXPECT_EQ(info.dwMinorVersion, c.minor);
    EXPECT_EQ(info.dwBuildNumber, c.build);
    EXPECT_EQ(info.dwOSVersionInfoSize, kOsVersionInfoSize);
  }
  // Only reads, and every key opened is closed again.
  EXPECT_EQ(registry.open_, 0);
  EXPECT_EQ(registry.writable_opens_, 0);
  EXPECT_EQ(registry.changes_, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Machines, RegistryVersion,
    testing::Values(
        VersionCase{"Windows95", version_number("\"4.00.950\""), false, true, 4, 0, 950},
        VersionCase{"Windows98", version_number("\"4.10.1998\""), false, true, 4, 10, 1998},
        VersionCase{"WindowsNt", kNtKey + version_number("\"4.00.1381\""), true, true, 4, 0, 1381},
        VersionCase{"WindowsNtWithoutVersionNumber", kNtKey, true, false},
        VersionCase{"NoDigitFirst", version_number("\"x4\""), false, false},
        VersionCase{"DwordValue", version_number("dword:00000004"), false, false},
        VersionCase{"BinaryText", version_number("hex:34,2e,30,00"), false, false},
        VersionCase{"EmptyText", version_number("\"\""), false, false},
        VersionCase{"ValueMissing", kVersionKey + "\"Version\"=\"Windows 95\"\r\n", false, false},
        VersionCase{"KeyMissing", "", false, false},
        VersionCase{"Version351", version_number("\"3.51\""), false, true, 3, 51, 0},
        VersionCase{"MajorOnly", version_number("\"5\""), false, true, 5, 0, 0},
        VersionCase{"EmptyMiddlePart", version_number("\"4..950\""), false, true, 4, 0, 950},
        VersionCase{"PartsWithSuffixes", version_number("\"4.10a.1998 B\""), false, true, 4, 10,
                    1998},
        VersionCase{"PartWithoutDigits", version_number("\"4.x.7\""), false, true, 4, 0, 7},
        VersionCase{"TrailingDot", version_number("\"4.\""), false, true, 4, 0, 0},
        VersionCase{"FourParts", version_number("\"4.0.950.1\""), false, true, 4, 0, 950},
        VersionCase{"TextWithoutZeroByte", version_number("hex(1):34,2e,31"), false, true, 4, 1, 0},
        VersionCase{"HugeNumberSaturates", version_number("\"99999999999.1\""), false, true,
                    0xFFFFFFFFu, 1, 0}),
    [](const testing::TestParamInfo<VersionCase>& param_info) {
      return std::string(param_info.param.label);
    });

TEST(RegistryVersionSize, WrongRecordSizeFails) {
  test::TempDir dir;
  auto path = dir / "system.reg";
  test::write_file(path, "REGEDIT4\r\n\r\n" + version_number("\"4.00.950\""));
  FileRegistry registry(path.string());
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
