#include "platform/posix/file_registry.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <array>
#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/posix/regedit4.h"
#include "tests/test_util.h"

namespace reg7140 {
namespace {

using test::read_file;
using test::TempDir;
using test::write_file;

namespace fs = std::filesystem;

constexpr std::string_view kInstance = "ENUM\\PCMCIA\\ZORVAN-NR_32/8_KV-61C7\\0";
constexpr std::string_view kLogConfig = "ENUM\\PCMCIA\\ZORVAN-NR_32/8_KV-61C7\\0\\LogConfig";

const std::string kMachine =
    "REGEDIT4\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\PCMCIA\\ZORVAN-NR_32/8_KV-61C7\\0]\r\n"
    "\"DRIVER\"=\"Net\\\\0000\"\r\n"
    "\"ForcedConfig\"=hex:00,04,00,00,00,00,00,00,00,00,00,00\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\PCMCIA\\ZORVAN-NR_32/8_KV-61C7\\0\\LogConfig]\r\n"
    "\"0000\"=hex:01\r\n"
    "\"Other\"=dword:00000001\r\n"
    "\"0001\"=hex:02\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Net\\0000]\r\n"
    "\"DriverDesc\"=\"ZV-7140\"\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Keep]\r\n"
    "\"Mine\"=hex(7):61,00,00\r\n"
    "\r\n";

std::vector<std::uint8_t> bytes(std::string_view text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

struct stat stat_of(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st;
}

class FileRegistryTest : public testing::Test {
 protected:
  FileRegistryTest() : path_(dir_ / "system.reg") {}

  KeyHandle open(FileRegistry& registry, std::string_view path,
                 KeyAccess access = KeyAccess::kAllAccess) {
    KeyHandle key = kNoKey;
    EXPECT_EQ(registry.open_key(path, access, &key), kErrorSuccess) << path;
    EXPECT_NE(key, kNoKey);
    return key;
  }

  // The value as a fresh registry on the same file sees it; "<missing>" when absent.
  std::string stored(std::string_view key_path, std::string_view name) {
    FileRegistry fresh(path_.string());
    KeyHandle key = kNoKey;
    if (fresh.open_key(key_path, KeyAccess::kRead, &key) != kErrorSuccess) return "<no key>";
    std::array<std::uint8_t, 512> buffer{};
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    RegStatus status = fresh.query_value(key, name, &type, buffer, &size);
    fresh.close_key(key);
    if (status != kErrorSuccess) return "<missing>";
    return std::to_string(type) + ":" +
           std::string(reinterpret_cast<const char*>(buffer.data()), size);
  }

  std::vector<std::string> directory_entries() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_.path())) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

  TempDir dir_;
  fs::path path_;
};

TEST_F(FileRegistryTest, StringDataEndsWithItsZeroByte) {
  write_file(path_, kMachine);
  FileRegistry registry(path_.string());
  KeyHandle key = open(registry, kInstance, KeyAccess::kRead);
  std::array<std::uint8_t, 256> buffer{};
  std::uint32_t type = 0;
  std::uint32_t size = 256;
  ASSERT_EQ(registry.query_value(key, "DRIVER", &type, buffer, &size), kErrorSuccess);
  EXPECT_EQ(type, kRegSz);
  ASSERT_EQ(size, 9u);
  EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + 9), std::string("Net\\0000\0", 9));
}

TEST_F(FileRegistryTest, LookupIgnoresLetterCaseAndKeepsIt) {
  write_file(path_, kMachine);
  {
    FileRegistry registry(path_.string());
    KeyHandle key = open(registry, "enum\\pcmcia\\Zorvan-nr_32/8_kv-61c7\\0");
    std::array<std::uint8_t, 16> buffer{};
    std::uint32_t size = 0;
    EXPECT_EQ(registry.query_value(key, "driver", nullptr, buffer, &size), kErrorSuccess);
    ASSERT_EQ(registry.set_value(key, "forcedCONFIG", kRegBinary, bytes("\x01")), kErrorSuccess);
    registry.close_key(key);
  }
  std::string text = read_file(path_);
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Enum\\PCMCIA\\ZORVAN-NR_32/8_KV-61C7\\0]\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("\"ForcedConfig\"=hex:01\r\n"), std::string::npos) << text;
}

TEST_F(FileRegistryTest, MissingKeysAndEmptyComponentsAreNotFound) {
  write_file(path_, kMachine);
  FileRegistry registry(path_.string());
  for (std::string_view path : {"", "\\", "Enum\\", "\\Enum", "Enum\\\\PCMCIA", "ENUM\\PCMCIA\\",
                                "Enum\\Missing", "HKEY_LOCAL_MACHINE\\Enum"}) {
    KeyHandle key = 99;
    EXPECT_EQ(registry.open_key(path, KeyAccess::kRead, &key), kErrorFileNotFound) << path;
    EXPECT_EQ(key, kNoKey) << path;
  }
  KeyHandle parent = open(registry, "System\\CurrentControlSet\\Services\\Class\\Net\\0000");
  for (std::string_view subkey : {"", "\\", "A\\", "\\A", "A\\\\B"}) {
    KeyHandle key = kNoKey;
    std::uint32_t disposition = 0;
    EXPECT_EQ(registry.create_key(parent, subkey, "", &key, &disposition), kErrorFileNotFound)
        << subkey;
  }
  std::array<std::uint8_t, 4> buffer{};
  std::uint32_t size = 0;
  EXPECT_EQ(registry.query_value(parent, "Nothing", nullptr, buffer, &size), kErrorFileNotFound);
  EXPECT_EQ(read_file(path_), kMachine);
}

TEST_F(FileRegistryTest, MissingFileIsAnEmptyRegistryAndIsNotCreated) {
  FileRegistry registry(path_.string());
  KeyHandle key = kNoKey;
  EXPECT_EQ(registry.open_key("Enum", KeyAccess::kRead, &key), kErrorFileNotFound);
  EXPECT_EQ(
      registry.open_key("Software\\Microsoft\\Windows\\CurrentVersion", KeyAccess::kRead, &key),
      kErrorFileNotFound);
  EXPECT_FALSE(fs::exists(path_));
}

TEST_F(FileRegistryTest, ShortBufferGivesMoreDataAndTheNeededSize) {
  write_file(path_, kMachine);
  FileRegistry registry(path_.string());
  KeyHandle key = open(registry, kInstance, KeyAccess::kRead);
  std::array<std::uint8_t, 12> buffer{};
  buffer.fill(0xEE);
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  EXPECT_EQ(registry.query_value(key, "DRIVER", &type, std::span(buffer).first(8), &size),
            kErrorMoreData);
  EXPECT_EQ(size, 9u);
  EXPECT_EQ(buffer[0], 0xEE);
  EXPECT_EQ(registry.query_value(key, "ForcedConfig", &type, buffer, &size), kErrorSuccess);
  EXPECT_EQ(size, 12u);
  EXPECT_EQ(type, kRegBinary);
  EXPECT_EQ(registry.query_value(key, "ForcedConfig", &type, std::span(buffer).first(11), &size),
            kErrorMoreData);
  EXPECT_EQ(size, 12u);
}

TEST_F(FileRegistryTest, KeysOpenedForReadingCannotChange) {
  write_file(path_, kMachine);
  FileRegistry registry(path_.string());
  KeyHandle key = open(registry, kLogConfig, KeyAccess::kRead);
  KeyHandle created = kNoKey;
  std::uint32_t disposition = 0;
  EXPECT_EQ(registry.set_value(key, "0000", kRegBinary, bytes("x")), kErrorAccessDenied);
  EXPECT_EQ(registry.set_value(key, "New", kRegBinary, bytes("x")), kErrorAccessDenied);
  EXPECT_EQ(registry.delete_value(key, "0000"), kErrorAccessDenied);
  EXPECT_EQ(registry.create_key(key, "Override", "MyClass", &created, &disposition),
            kErrorAccessDenied);
  EXPECT_EQ(created, kNoKey);
  EXPECT_EQ(read_file(path_), kMachine);
  EXPECT_EQ(stored(kLogConfig, "0000"), "3:\x01");
}

TEST_F(FileRegistryTest, UnknownAndClosedHandlesAreInvalid) {
  write_file(path_, kMachine);
  FileRegistry registry(path_.string());
  KeyHandle first = open(registry, kLogConfig);
  KeyHandle second = open(registry, kLogConfig);
  EXPECT_NE(first, second);
  registry.close_key(first);
  std::array<std::uint8_t, 4> buffer{};
  std::uint32_t size = 0;
  KeyHandle created = kNoKey;
  std::uint32_t disposition = 0;
  for (KeyHandle bad : {kNoKey, first, KeyHandle{12345}}) {
    EXPECT_EQ(registry.query_value(bad, "0000", nullptr, buffer, &size), kErrorInvalidHandle);
    EXPECT_EQ(registry.set_value(bad, "0000", kRegBinary, bytes("x")), kErrorInvalidHandle);
    EXPECT_EQ(registry.delete_value(bad, "0000"), kErrorInvalidHandle);
    EXPECT_EQ(registry.create_key(bad, "X", "", &created, &disposition), kErrorInvalidHandle);
    registry.close_key(bad);
  }
  // The other handle to the same key still works.
  EXPECT_EQ(registry.query_value(second, "0000", nullptr, buffer, &size), kErrorSuccess);
  EXPECT_EQ(read_file(path_), kMachine);
}

TEST_F(FileRegistryTest, EveryChangeIsOnDiskWhenTheCallReturns) {
  write_file(path_, kMachine);
  FileRegistry registry(path_.string());
  KeyHandle log = open(registry, kLogConfig);
  KeyHandle instance = open(registry, kInstance);

  ASSERT_EQ(registry.delete_value(log, "0000"), kErrorSuccess);
  EXPECT_EQ(stored(kLogConfig, "0000"), "<missing>");
  EXPECT_EQ(stored(kLogConfig, "Other"), std::string("4:\x01\0\0\0", 6));

  std::vector<std::uint8_t> grown(64, 0x34);
  ASSERT_EQ(registry.set_value(instance, "ForcedConfig", kRegBinary, grown), kErrorSuccess);
  EXPECT_EQ(stored(kInstance, "ForcedConfig"), "3:" + std::string(64, '\x34'));

  // A value of another type and length replaces the old one.
  ASSERT_EQ(
      registry.set_value(instance, "DRIVER", kRegDword, bytes(std::string_view("\x07\0\0\0", 4))),
      kErrorSuccess);
  EXPECT_EQ(stored(kInstance, "DRIVER"), std::string("4:\x07\0\0\0", 6));
  ASSERT_EQ(registry.set_value(instance, "New", kRegSz, bytes(std::string("v\0", 2))),
            kErrorSuccess);
  EXPECT_EQ(stored(kInstance, "New"), std::string("1:v\0", 4));

  KeyHandle net = open(registry, "System\\CurrentControlSet\\Services\\Class\\Net\\0000");
  KeyHandle override_key = kNoKey;
  std::uint32_t disposition = 0;
  ASSERT_EQ(registry.create_key(net, "Override", "MyClass", &override_key, &disposition),
            kErrorSuccess);
  EXPECT_EQ(disposition, kRegCreatedNewKey);
  std::string override_path = "System\\CurrentControlSet\\Services\\Class\\Net\\0000\\Override";
  EXPECT_EQ(stored(override_path, "0000"), "<missing>");
  ASSERT_EQ(registry.set_value(override_key, "0000", kRegBinary, bytes("\x0a\x0b")), kErrorSuccess);
  EXPECT_EQ(stored(override_path, "0000"), "3:\x0a\x0b");

  RegistryTree on_disk;
  ASSERT_TRUE(parse_regedit4(read_file(path_), &on_disk));
  RegistryKey* created =
      RegistryTree::find(on_disk.root(RegistryRoot::kLocalMachine), override_path);
  ASSERT_NE(created, nullptr);
  EXPECT_TRUE(created->has_class());
  EXPECT_EQ(created->class_name(), "MyClass");
  // Everything else survives in meaning.
  EXPECT_NE(RegistryTree::find(on_disk.root(RegistryRoot::kCurrentUser), "Software\\Keep"),
            nullptr);
  EXPECT_EQ(stored(kLogConfig, "0001"), "3:\x02");
}

TEST_F(FileRegistryTest, CallsThatChangeNothingDoNotRewriteTheFile) {
  write_file(path_, kMachine);
  chmod(path_.c_str(), 0640);
  ino_t inode = stat_of(path_).st_ino;
  FileRegistry registry(path_.string());
  KeyHandle log = open(registry, kLogConfig);
  EXPECT_EQ(registry.delete_value(log, "0005"), kErrorFileNotFound);
  KeyHandle key = kNoKey;
  std::uint32_t disposition = 0;
  ASSERT_EQ(registry.create_key(log, "Sub", "MyClass", &key, &disposition), kErrorSuccess);
  EXPECT_EQ(disposition, kRegCreatedNewKey);
  std::string after_create = read_file(path_);
  ino_t created_inode = stat_of(path_).st_ino;
  EXPECT_NE(created_inode, inode);
  // A save keeps the file's mode.
  EXPECT_EQ(stat_of(path_).st_mode & 07777, 0640u);

  KeyHandle again = kNoKey;
  ASSERT_EQ(registry.create_key(log, "SUB", "OtherClass", &again, &disposition), kErrorSuccess);
  EXPECT_EQ(disposition, kRegOpenedExistingKey);
  EXPECT_NE(again, kNoKey);
  EXPECT_EQ(stat_of(path_).st_ino, created_inode);
  EXPECT_EQ(read_file(path_), after_create);
  EXPECT_NE(after_create.find("Sub]\r\n;class=\"MyClass\"\r\n"), std::string::npos);
}

TEST_F(FileRegistryTest, CreateKeyMakesEveryMissingLevel) {
  write_file(path_, kMachine);
  FileRegistry registry(path_.string());
  KeyHandle net = open(registry, "System\\CurrentControlSet\\Services\\Class\\Net");
  KeyHandle key = kNoKey;
  std::uint32_t disposition = 0;
  ASSERT_EQ(registry.create_key(net, "0000\\Deep\\Deeper", "C", &key, &disposition), kErrorSuccess);
  EXPECT_EQ(disposition, kRegCreatedNewKey);
  ASSERT_EQ(registry.set_value(key, "v", kRegBinary, bytes("1")), kErrorSuccess);
  EXPECT_EQ(stored("System\\CurrentControlSet\\Services\\Class\\Net\\0000\\Deep\\Deeper", "v"),
            "3:1");
  // Names that a line cannot hold are refused before anything changes.
  std::string before = read_file(path_);
  EXPECT_EQ(registry.create_key(net, std::string_view("Ok\\Bad\nName"), "", &key, &disposition),
            kErrorInvalidParameter);
  EXPECT_EQ(registry.set_value(net, std::string_view("a\0b", 3), kRegBinary, bytes("1")),
            kErrorInvalidParameter);
  EXPECT_EQ(read_file(path_), before);
}

TEST_F(FileRegistryTest, FileRemovedAfterLoadingIsWrittenAnewWithMode0644) {
  write_file(path_, kMachine);
  FileRegistry registry(path_.string());
  KeyHandle key = open(registry, kInstance);
  fs::remove(path_);
  ASSERT_EQ(registry.set_value(key, "New", kRegBinary, bytes("1")), kErrorSuccess);
  EXPECT_EQ(stat_of(path_).st_mode & 07777, 0644u);
  EXPECT_EQ(stored(kInstance, "New"), "3:1");
  EXPECT_EQ(stored(kLogConfig, "Other"), std::string("4:\x01\0\0\0", 6));
}

TEST_F(FileRegistryTest, SymbolicLinkStaysAndItsTargetIsUpdated) {
  fs::path real = dir_ / "real" / "SYSTEM.REG";
  write_file(real, kMachine);
  fs::create_symlink(real, path_);
  FileRegistry registry(path_.string());
  KeyHandle key = open(registry, kInstance);
  ASSERT_EQ(registry.set_value(key, "New", kRegBinary, bytes("1")), kErrorSuccess);
  EXPECT_TRUE(fs::is_symlink(path_));
  EXPECT_EQ(stored(kInstance, "New"), "3:1");
  EXPECT_NE(read_file(real).find("\"New\"=hex:31"), std::string::npos);
}

// Fails every file write past a few bytes, as a full disk does.
class FileSizeLimit {
 public:
  FileSizeLimit() {
    getrlimit(RLIMIT_FSIZE, &saved_);
    old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved_;
    small.rlim_cur = 16;
    setrlimit(RLIMIT_FSIZE, &small);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, old_handler_);
  }

 private:
  rlimit saved_{};
  void (*old_handler_)(int) = nullptr;
};

struct FailedChange {
  const char* label;
  std::function<RegStatus(FileRegistry&, KeyHandle log, KeyHandle instance)> change;
};

class FileRegistryFailedSave : public FileRegistryTest,
                               public testing::WithParamInterface<FailedChange> {};

TEST_P(FileRegistryFailedSave, LeavesFileAndMemoryAsTheyWere) {
  write_file(path_, kMachine);
  struct timespec old_times[2] = {{1000000, 0}, {1000000, 0}};
  utimensat(AT_FDCWD, path_.c_str(), old_times, 0);
  FileRegistry registry(path_.string());
  KeyHandle log = open(registry, kLogConfig);
  KeyHandle instance = open(registry, kInstance);

  RegStatus status;
  {
    FileSizeLimit limit;
    status = GetParam().change(registry, log, instance);
  }
  EXPECT_EQ(status, kErrorWriteFault);
  EXPECT_EQ(read_file(path_), kMachine);
  EXPECT_EQ(stat_of(path_).st_mtim.tv_sec, 1000000);
  EXPECT_EQ(directory_entries(), std::vector<std::string>{"system.reg"});

  // The store in memory is still the file on disk: the next save writes exactly the old
  // content plus the next change.
  ASSERT_EQ(registry.set_value(log, "Marker", kRegBinary, bytes("M")), kErrorSuccess);
  RegistryTree expected;
  ASSERT_TRUE(parse_regedit4(kMachine, &expected));
  RegistryTree::set_value(
      RegistryTree::find(expected.root(RegistryRoot::kLocalMachine), kLogConfig), "Marker",
      kRegBinary, bytes("M"));
  EXPECT_EQ(canonical_dump(std::string_view(read_file(path_))), canonical_dump(expected));
  // Including the order of values and keys.
  EXPECT_EQ(read_file(path_), expected.write());
}

INSTANTIATE_TEST_SUITE_P(
    Changes, FileRegistryFailedSave,
    testing::Values(FailedChange{"SetNewValue",
                                 [](FileRegistry& r, KeyHandle log, KeyHandle) {
                                   return r.set_value(log, "New", kRegBinary, bytes("abc"));
                                 }},
                    FailedChange{"ReplaceValue",
                                 [](FileRegistry& r, KeyHandle, KeyHandle instance) {
                                   return r.set_value(instance, "driver", kRegBinary, bytes("abc"));
                                 }},
                    FailedChange{"DeleteMiddleValue",
                                 [](FileRegistry& r, KeyHandle log, KeyHandle) {
                                   return r.delete_value(log, "Other");
                                 }},
                    FailedChange{"CreateKeys",
                                 [](FileRegistry& r, KeyHandle log, KeyHandle) {
                                   KeyHandle key = kNoKey;
                                   std::uint32_t disposition = 0;
                                   RegStatus s =
                                       r.create_key(log, "A\\B", "MyClass", &key, &disposition);
                                   EXPECT_EQ(key, kNoKey);
                                   return s;
                                 }}),
    [](const testing::TestParamInfo<FailedChange>& param_info) {
      return std::string(param_info.param.label);
    });

TEST_F(FileRegistryTest, FailedRenameRemovesTheTemporaryFile) {
  write_file(path_, kMachine);
  FileRegistry registry(path_.string());
  KeyHandle log = open(registry, kLogConfig);
  // The registry file's place is taken by a directory that a rename cannot replace.
  fs::remove(path_);
  fs::create_directory(path_);
  write_file(path_ / "inside", "x");
  EXPECT_EQ(registry.set_value(log, "New", kRegBinary, bytes("abc")), kErrorWriteFault);
  EXPECT_EQ(directory_entries(), std::vector<std::string>{"system.reg"});
  std::array<std::uint8_t, 8> buffer{};
  std::uint32_t size = 0;
  EXPECT_EQ(registry.query_value(log, "New", nullptr, buffer, &size), kErrorFileNotFound);
}

TEST_F(FileRegistryTest, MissingDirectoryFailsTheSave) {
  fs::path nested = dir_ / "gone" / "system.reg";
  write_file(nested, kMachine);
  FileRegistry registry(nested.string());
  KeyHandle log = open(registry, kLogConfig);
  fs::remove_all(dir_ / "gone");
  EXPECT_EQ(registry.delete_value(log, "0000"), kErrorWriteFault);
  std::array<std::uint8_t, 8> buffer{};
  std::uint32_t size = 0;
  EXPECT_EQ(registry.query_value(log, "0000", nullptr, buffer, &size), kErrorSuccess);
}

struct BadFile {
  const char* label;
  std::string content;
};

class FileRegistryBadFile : public FileRegistryTest, public testing::WithParamInterface<BadFile> {};

TEST_P(FileRegistryBadFile, EveryCallFailsAndTheFileIsLeftAlone) {
  write_file(path_, GetParam().content);
  struct timespec old_times[2] = {{1000000, 0}, {1000000, 0}};
  utimensat(AT_FDCWD, path_.c_str(), old_times, 0);

  FileRegistry registry(path_.string());
  KeyHandle key = kNoKey;
  for (std::string_view path : {"Enum", "Enum\\PCMCIA", ""}) {
    EXPECT_EQ(registry.open_key(path, KeyAccess::kAllAccess, &key), kErrorBadDb) << path;
  }
  std::array<std::uint8_t, 8> buffer{};
  std::uint32_t size = 0;
  std::uint32_t disposition = 0;
  for (KeyHandle handle : {KeyHandle{1}, KeyHandle{2}}) {
    EXPECT_EQ(registry.query_value(handle, "x", nullptr, buffer, &size), kErrorBadDb);
    EXPECT_EQ(registry.set_value(handle, "x", kRegBinary, bytes("1")), kErrorBadDb);
    EXPECT_EQ(registry.delete_value(handle, "x"), kErrorBadDb);
    EXPECT_EQ(registry.create_key(handle, "x", "", &key, &disposition), kErrorBadDb);
    registry.close_key(handle);
  }
  EXPECT_EQ(read_file(path_), GetParam().content);
  EXPECT_EQ(stat_of(path_).st_mtim.tv_sec, 1000000);
  EXPECT_EQ(directory_entries(), std::vector<std::string>{"system.reg"});
}

const std::string kHead = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Enum]\r\n";

INSTANTIATE_TEST_SUITE_P(
    Malformed, FileRegistryBadFile,
    testing::Values(
        BadFile{"EmptyFile", ""},
        BadFile{"WrongFirstLine", "REGEDIT5\r\n[HKEY_LOCAL_MACHINE\\Enum]\r\n"},
        BadFile{"UnicodeHeader", "Windows Registry Editor Version 5.00\r\n"},
        BadFile{"LeadingBlankLine", "\r\nREGEDIT4\r\n"},
        BadFile{"UnknownRoot", "REGEDIT4\r\n[HKEY_LOCAL_MACHINES\\Enum]\r\n"},
        BadFile{"AbbreviatedRoot", "REGEDIT4\r\n[HKLM\\Enum]\r\n"},
        BadFile{"KeyWithoutBracket", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Enum\r\n"},
        BadFile{"TextAfterBracket", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Enum] x\r\n"},
        BadFile{"EmptyKeyComponent", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Enum\\\\PCMCIA]\r\n"},
        BadFile{"TrailingBackslashInKey", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Enum\\]\r\n"},
        BadFile{"DeletedKey", "REGEDIT4\r\n[-HKEY_LOCAL_MACHINE\\Enum]\r\n"},
        BadFile{"ValueBeforeAnyKey", "REGEDIT4\r\n\"a\"=\"b\"\r\n"},
        BadFile{"DeletedValue", kHead + "\"a\"=-\r\n"},
        BadFile{"UnterminatedString", kHead + "\"a\"=\"b\r\n"},
        BadFile{"UnterminatedName", kHead + "\"a=\"b\"\r\n"},
        BadFile{"UnknownEscape", kHead + "\"a\"=\"C:\\WINDOWS\"\r\n"},
        BadFile{"TextAfterString", kHead + "\"a\"=\"b\" c\r\n"},
        BadFile{"MissingEquals", kHead + "\"a\" \"b\"\r\n"},
        BadFile{"BareWord", kHead + "\"a\"=b\r\n"},
        BadFile{"BadHexDigit", kHead + "\"a\"=hex:0g\r\n"},
        BadFile{"HexTooLong", kHead + "\"a\"=hex:001\r\n"},
        BadFile{"HexDoubleComma", kHead + "\"a\"=hex:00,,01\r\n"},
        BadFile{"HexTrailingComma", kHead + "\"a\"=hex:00,01,\r\n"},
        BadFile{"HexContinuationAtEnd", kHead + "\"a\"=hex:00,\\\r\n"},
        BadFile{"HexContinuationIntoKey", kHead + "\"a\"=hex:00,\\\r\n[HKEY_LOCAL_MACHINE\\X]\r\n"},
        BadFile{"BadHexType", kHead + "\"a\"=hex(z):00\r\n"},
        BadFile{"HexTypeUnclosed", kHead + "\"a\"=hex(2:00\r\n"},
        BadFile{"DwordTooLong", kHead + "\"a\"=dword:000000001\r\n"},
        BadFile{"DwordEmpty", kHead + "\"a\"=dword:\r\n"},
        BadFile{"DwordNotHex", kHead + "\"a\"=dword:0000000x\r\n"},
        BadFile{"GarbageLine", kHead + "garbage\r\n"},
        BadFile{"BadClassLine", kHead + ";class=MyClass\r\n"},
        BadFile{"ControlCharacter", kHead + "\"a\"=\"b\x01\"\r\n"},
        BadFile{"LoneCarriageReturn", kHead + "\"a\"=\"b\"\r\"c\"=\"d\"\r\n"},
        BadFile{"NulByte", kHead + std::string("\"a\"=\"b\0\"\r\n", 10)},
        BadFile{"BinaryData", std::string("\x7f"
                                          "ELF\x02\x01\x01\0\0\0",
                                          10)}),
    [](const testing::TestParamInfo<BadFile>& param_info) {
      return std::string(param_info.param.label);
    });

TEST_F(FileRegistryTest, UnreadableRegistryIsNeverReplaced) {
  fs::create_directory(path_);
  FileRegistry registry(path_.string());
  KeyHandle key = kNoKey;
  EXPECT_EQ(registry.open_key("Enum", KeyAccess::kRead, &key), kErrorBadDb);
  EXPECT_TRUE(fs::is_directory(path_));
}

}  // namespace
}  // namespace reg7140
