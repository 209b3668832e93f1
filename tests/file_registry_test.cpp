#include "platform/posix/file_registry.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <array>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/posix/regedit4.h"
#include "tests/test_util.h"

namespace reg7140 {
namespace {

namespace fs = std::filesystem;
using test::read_file;
using test::write_file;

const std::string kInstance = "ENUM\\PCMCIA\\ZORVAN-NR_32/8_KV-61C7\\0";
const std::string kLogConfig = kInstance + "\\LogConfig";
const std::string kNet = "System\\CurrentControlSet\\Services\\Class\\Net\\0000";

// An instance with its LogConfig, a driver class key, and a key of another root.
const std::string kMachine = read_file(test::data_path("data/small_machine.reg"));

std::vector<std::uint8_t> bytes(std::string_view text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

struct stat stat_of(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st;
}

void set_old_mtime(const fs::path& path) {
  const struct timespec times[2] = {{1000000, 0}, {1000000, 0}};
  utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

std::vector<std::string> entries(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

// "type:data" as a query answers, or "<error N>".
std::string value(Registry& registry, KeyHandle key, std::string_view name) {
  std::array<std::uint8_t, 512> buffer{};
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  const RegStatus status = registry.query_value(key, name, &type, buffer, &size);
  if (status != kErrorSuccess) return "<error " + std::to_string(status) + ">";
  return std::to_string(type) + ":" + std::string(buffer.begin(), buffer.begin() + size);
}

class FileRegistryTest : public testing::Test {
 protected:
  FileRegistryTest() : path_(dir_ / "system.reg") { write_file(path_, kMachine); }

  static KeyHandle open(FileRegistry& registry, std::string_view path,
                        KeyAccess access = KeyAccess::kAllAccess) {
    KeyHandle key = kNoKey;
    EXPECT_EQ(registry.open_key(path, access, &key), kErrorSuccess) << path;
    return key;
  }

  // The value as a fresh registry on the same file sees it.
  std::string stored(std::string_view key_path, std::string_view name) {
    FileRegistry fresh(path_.string());
    KeyHandle key = kNoKey;
    if (fresh.open_key(key_path, KeyAccess::kRead, &key) != kErrorSuccess) return "<no key>";
    return value(fresh, key, name);
  }

  test::TempDir dir_;
  fs::path path_;
};

TEST_F(FileRegistryTest, QueriesAndLookups) {
  FileRegistry registry(path_.string());
  // Names match without regard to letter case; string data ends with its zero byte.
  const KeyHandle key = open(registry, "enum\\pcmcia\\Zorvan-nr_32/8_kv-61c7\\0", KeyAccess::kRead);
  EXPECT_EQ(value(registry, key, "driver"), std::string("1:Net\\0000\0", 11));
  EXPECT_EQ(value(registry, key, "Nothing"), "<error 2>");
  // A short buffer gives "more data" and the size needed, and is left alone.
  std::array<std::uint8_t, 12> buffer{};
  buffer.fill(0xEE);
  std::uint32_t size = 0;
  EXPECT_EQ(registry.query_value(key, "DRIVER", nullptr, std::span(buffer).first(8), &size),
            kErrorMoreData);
  EXPECT_EQ(size, 9u);
  EXPECT_EQ(buffer[0], 0xEE);
  EXPECT_EQ(registry.query_value(key, "ForcedConfig", nullptr, std::span(buffer).first(11), &size),
            kErrorMoreData);
  EXPECT_EQ(registry.query_value(key, "ForcedConfig", nullptr, buffer, &size), kErrorSuccess);
  EXPECT_EQ(size, 12u);
  // Missing keys, and paths with an empty component, are not found.
  for (std::string_view path : {"", "\\", "Enum\\", "\\Enum", "Enum\\\\PCMCIA", "ENUM\\PCMCIA\\",
                                "Enum\\Missing", "HKEY_LOCAL_MACHINE\\Enum"}) {
    KeyHandle missing = 99;
    EXPECT_EQ(registry.open_key(path, KeyAccess::kRead, &missing), kErrorFileNotFound) << path;
    EXPECT_EQ(missing, kNoKey) << path;
  }
  // A missing file is an empty registry, and reading it does not create it.
  FileRegistry none((dir_ / "none.reg").string());
  KeyHandle missing = kNoKey;
  EXPECT_EQ(none.open_key("Enum", KeyAccess::kRead, &missing), kErrorFileNotFound);
  EXPECT_FALSE(fs::exists(dir_ / "none.reg"));
  EXPECT_EQ(read_file(path_), kMachine);
}

TEST_F(FileRegistryTest, RefusesWhatItMayNotDoAndChangesNothing) {
  FileRegistry registry(path_.string());
  const KeyHandle read_only = open(registry, kLogConfig, KeyAccess::kRead);
  const KeyHandle closed = open(registry, kLogConfig);
  const KeyHandle net = open(registry, kNet);
  registry.close_key(closed);
  const struct {
    KeyHandle handle;
    RegStatus status;
  } refusals[] = {{read_only, kErrorAccessDenied},
                  {closed, kErrorInvalidHandle},
                  {kNoKey, kErrorInvalidHandle},
                  {KeyHandle{12345}, kErrorInvalidHandle}};
  KeyHandle key = kNoKey;
  std::uint32_t disposition = 0;
  for (const auto& refusal : refusals) {
    SCOPED_TRACE(testing::Message() << "handle " << refusal.handle);
    EXPECT_EQ(registry.set_value(refusal.handle, "0000", kRegBinary, bytes("x")), refusal.status);
    EXPECT_EQ(registry.set_value(refusal.handle, "New", kRegBinary, bytes("x")), refusal.status);
    EXPECT_EQ(registry.delete_value(refusal.handle, "0000"), refusal.status);
    EXPECT_EQ(registry.create_key(refusal.handle, "Override", "C", &key, &disposition),
              refusal.status);
    EXPECT_EQ(key, kNoKey);
  }
  EXPECT_EQ(value(registry, closed, "0000"), "<error 6>");
  // The other handle to the same key still works.
  EXPECT_EQ(value(registry, read_only, "0000"), "3:\x01");
  // Sub-key paths with an empty component; names and classes that a line cannot hold.
  for (std::string_view subkey : {"", "\\", "A\\", "\\A", "A\\\\B"}) {
    EXPECT_EQ(registry.create_key(net, subkey, "", &key, &disposition), kErrorFileNotFound);
  }
  EXPECT_EQ(registry.create_key(net, "Ok\\Bad\nName", "", &key, &disposition),
            kErrorInvalidParameter);
  EXPECT_EQ(registry.create_key(net, "Ok", "Bad\nClass", &key, &disposition),
            kErrorInvalidParameter);
  EXPECT_EQ(registry.set_value(net, std::string_view("a\0b", 3), kRegBinary, bytes("1")),
            kErrorInvalidParameter);
  EXPECT_EQ(registry.delete_value(net, "0005"), kErrorFileNotFound);
  registry.close_key(KeyHandle{12345});
  registry.close_key(closed);
  EXPECT_EQ(read_file(path_), kMachine);
}

TEST_F(FileRegistryTest, EveryChangeIsOnDiskWhenTheCallReturns) {
  ASSERT_EQ(chmod(path_.c_str(), 0640), 0);
  FileRegistry registry(path_.string());
  const KeyHandle log = open(registry, kLogConfig);
  const KeyHandle instance = open(registry, kInstance);
  ASSERT_EQ(registry.delete_value(log, "0000"), kErrorSuccess);
  EXPECT_EQ(stored(kLogConfig, "0000"), "<error 2>");
  EXPECT_EQ(stored(kLogConfig, "Other"), std::string("4:\x01\0\0\0", 6));
  // A value set under another letter case, type or length replaces the old one in its place and
  // keeps its name's spelling.
  ASSERT_EQ(registry.set_value(instance, "forcedCONFIG", kRegBinary, bytes(std::string(64, '4'))),
            kErrorSuccess);
  EXPECT_EQ(stored(kInstance, "ForcedConfig"), "3:" + std::string(64, '4'));
  ASSERT_EQ(registry.set_value(instance, "DRIVER", kRegDword, bytes(std::string("\x07\0\0\0", 4))),
            kErrorSuccess);
  EXPECT_EQ(stored(kInstance, "DRIVER"), std::string("4:\x07\0\0\0", 6));
  ASSERT_EQ(registry.set_value(instance, "New", kRegSz, bytes(std::string("v\0", 2))),
            kErrorSuccess);
  EXPECT_EQ(stored(kInstance, "New"), std::string("1:v\0", 4));
  // Creating makes every missing level, the class on the last.
  KeyHandle deep = kNoKey;
  std::uint32_t disposition = 0;
  ASSERT_EQ(
      registry.create_key(open(registry, kNet), "Override\\Deep", "MyClass", &deep, &disposition),
      kErrorSuccess);
  EXPECT_EQ(disposition, kRegCreatedNewKey);
  EXPECT_EQ(stored(kNet + "\\Override\\Deep", "v"), "<error 2>");
  ASSERT_EQ(registry.set_value(deep, "v", kRegBinary, bytes("\x0a\x0b")), kErrorSuccess);
  EXPECT_EQ(stored(kNet + "\\Override\\Deep", "v"), "3:\x0a\x0b");

  const std::string text = read_file(path_);
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Enum\\PCMCIA\\ZORVAN-NR_32/8_KV-61C7\\0]\r\n"
                      "\"DRIVER\"=dword:00000007\r\n\"ForcedConfig\"=hex:34,"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Override\\Deep]\r\n;class=\"MyClass\"\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Keep]\r\n\"Mine\"=hex(7):61,00,00\r\n"),
            std::string::npos);
  EXPECT_EQ(stat_of(path_).st_mode & 07777, 0640u);

  // Opening an existing key through create_key changes nothing: the file is not even rewritten.
  const ino_t inode = stat_of(path_).st_ino;
  KeyHandle again = kNoKey;
  ASSERT_EQ(
      registry.create_key(open(registry, kNet), "OVERRIDE\\deep", "Other", &again, &disposition),
      kErrorSuccess);
  EXPECT_EQ(disposition, kRegOpenedExistingKey);
  EXPECT_EQ(value(registry, again, "v"), "3:\x0a\x0b");
  EXPECT_EQ(stat_of(path_).st_ino, inode);
  EXPECT_EQ(read_file(path_), text);
}

TEST_F(FileRegistryTest, SavesThroughALinkAndAfterTheFileWasRemoved) {
  // A symbolic link stays, and the file it points to gets the change.
  const fs::path link = dir_ / "link.reg";
  fs::create_symlink(path_, link);
  {
    FileRegistry registry(link.string());
    ASSERT_EQ(registry.set_value(open(registry, kInstance), "New", kRegBinary, bytes("1")),
              kErrorSuccess);
  }
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(stored(kInstance, "New"), "3:1");
  // A file removed after loading is written anew, with mode 0644 and all it held.
  FileRegistry registry(path_.string());
  const KeyHandle key = open(registry, kInstance);
  fs::remove(path_);
  ASSERT_EQ(registry.set_value(key, "Newer", kRegBinary, bytes("2")), kErrorSuccess);
  EXPECT_EQ(stat_of(path_).st_mode & 07777, 0644u);
  EXPECT_EQ(stored(kInstance, "New"), "3:1");
  EXPECT_EQ(stored(kLogConfig, "Other"), std::string("4:\x01\0\0\0", 6));
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

// Each kind of change, with the save failing in each way: the call fails, the file stays as it
// was with no temporary file beside it, and the registry in memory is still the file's content,
// so the next save writes exactly the old content and the next change.
TEST_F(FileRegistryTest, FailedSaveLeavesFileAndMemoryAsTheyWere) {
  const auto change = [](FileRegistry& r, KeyHandle log, KeyHandle instance, const char* kind) {
    KeyHandle key = kNoKey;
    std::uint32_t disposition = 0;
    const std::string_view what(kind);
    if (what == "set new value") return r.set_value(log, "New", kRegBinary, bytes("abc"));
    if (what == "replace value") return r.set_value(instance, "driver", kRegBinary, bytes("abc"));
    if (what == "delete middle value") return r.delete_value(log, "Other");
    const RegStatus status = r.create_key(log, "A\\B", "MyClass", &key, &disposition);
    EXPECT_EQ(key, kNoKey);
    return status;
  };
  const fs::path dir = dir_ / "machine";
  const fs::path path = dir / "system.reg";
  for (const char* breakage : {"disk full", "directory in its place", "directory gone"}) {
    for (const char* name :
         {"set new value", "replace value", "delete middle value", "create keys"}) {
      SCOPED_TRACE(testing::Message() << name << ", " << breakage);
      fs::remove_all(dir);
      write_file(path, kMachine);
      set_old_mtime(path);
      FileRegistry registry(path.string());
      const KeyHandle log = open(registry, kLogConfig);
      const KeyHandle instance = open(registry, kInstance);
      RegStatus status = kErrorSuccess;
      if (breakage == std::string_view("disk full")) {
        FileSizeLimit limit;
        status = change(registry, log, instance, name);
      } else if (breakage == std::string_view("directory in its place")) {
        fs::remove(path);
        write_file(path / "inside", "x");
        status = change(registry, log, instance, name);
      } else {
        fs::remove_all(dir);
        status = change(registry, log, instance, name);
      }
      EXPECT_EQ(status, kErrorWriteFault);
      if (breakage == std::string_view("disk full")) {
        EXPECT_EQ(read_file(path), kMachine);
        EXPECT_EQ(stat_of(path).st_mtim.tv_sec, 1000000);
      }
      if (fs::exists(dir)) {
        EXPECT_EQ(entries(dir), std::vector<std::string>{"system.reg"});
      }

      fs::remove_all(dir);
      fs::create_directories(dir);
      ASSERT_EQ(registry.set_value(log, "Marker", kRegBinary, bytes("M")), kErrorSuccess);
      RegistryTree expected;
      ASSERT_TRUE(parse_regedit4(kMachine, &expected));
      RegistryTree::set_value(
          RegistryTree::find(expected.root(RegistryRoot::kLocalMachine), kLogConfig), "Marker",
          kRegBinary, bytes("M"));
      EXPECT_EQ(read_file(path), expected.write());
    }
  }
}

// A file that does not read as REGEDIT4 text (tests/data/bad_registry_files.txt), a directory, a
// link that leads nowhere: every call fails, and the file is never replaced.
TEST_F(FileRegistryTest, UnreadableRegistryFailsEveryCallAndIsLeftAlone) {
  const auto check = [](const fs::path& path) {
    FileRegistry registry(path.string());
    KeyHandle key = kNoKey;
    std::uint32_t disposition = 0;
    for (std::string_view key_path : {"Enum", "Enum\\PCMCIA", ""}) {
      EXPECT_EQ(registry.open_key(key_path, KeyAccess::kAllAccess, &key), kErrorBadDb);
    }
    for (KeyHandle handle : {KeyHandle{1}, KeyHandle{2}}) {
      EXPECT_EQ(value(registry, handle, "x"), "<error 1009>");
      EXPECT_EQ(registry.set_value(handle, "x", kRegBinary, bytes("1")), kErrorBadDb);
      EXPECT_EQ(registry.delete_value(handle, "x"), kErrorBadDb);
      EXPECT_EQ(registry.create_key(handle, "x", "", &key, &disposition), kErrorBadDb);
      registry.close_key(handle);
    }
  };
  const auto rows = test::load_table("data/bad_registry_files.txt");
  ASSERT_GT(rows.size(), 30u);
  for (const auto& row : rows) {
    SCOPED_TRACE(row[0]);
    write_file(path_, row.at(1));
    set_old_mtime(path_);
    check(path_);
    EXPECT_EQ(read_file(path_), row[1]);
    EXPECT_EQ(stat_of(path_).st_mtim.tv_sec, 1000000);
  }
  EXPECT_EQ(entries(dir_.path()), std::vector<std::string>{"system.reg"});

  fs::remove(path_);
  fs::create_directory(path_);
  check(path_);
  EXPECT_TRUE(fs::is_directory(path_));
  fs::create_symlink(dir_ / "loop.reg", dir_ / "loop.reg");
  check(dir_ / "loop.reg");
  EXPECT_TRUE(fs::is_symlink(dir_ / "loop.reg"));
}

}  // namespace
}  // namespace reg7140
