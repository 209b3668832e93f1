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
  if (status != 0) return "<error " + std::to_string(status) + ">";
  return std::to_string(type) + ":" + std::string(buffer.begin(), buffer.begin() + size);
}

class FileRegistryTest : public testing::Test {
 protected:
  FileRegistryTest() : path_(dir_ / "system.reg") { write_file(path_, kMachine); }

  static KeyHandle open(FileRegistry& registry, std::string_view path,
                        KeyAccess access = KeyAccess::kAllAccess) {
    KeyHandle key = kNoKey;
    EXPECT_EQ(registry.open_key(path, access, &key), 0) << path;
    return key;
  }

  // The value as a fresh registry on the same file sees it.
  std::string stored(std::string_view key_path, std::string_view name) {
    return stored(key_path, name, path_);
  }
  static std::string stored(std::string_view key_path, std::string_view name,
                            const fs::path& file) {
    FileRegistry fresh(file.string());
    KeyHandle key = kNoKey;
    if (fresh.open_key(key_path, KeyAccess::kRead, &key) != 0) return "<no key>";
    return value(fresh, key, name);
  }

  test::TempDir dir_;
  fs::path path_;
};

// What the property over generated files does not reach: short buffers, odd paths and handles,
// names a line cannot hold. Nothing of it changes the file.
TEST_F(FileRegistryTest, RefusesWhatItMayNotDoAndChangesNothing) {
  FileRegistry registry(path_.string());
  const KeyHandle read_only = open(registry, kLogConfig, KeyAccess::kRead);
  const KeyHandle closed = open(registry, kLogConfig);
  const KeyHandle net = open(registry, kNet);
  registry.close_key(closed);
  // A short buffer gives "more data" and the size needed, and is left alone.
  std::array<std::uint8_t, 12> buffer{};
  buffer.fill(0xEE);
  std::uint32_t size = 0;
  const KeyHandle instance = open(registry, kInstance, KeyAccess::kRead);
  EXPECT_EQ(registry.query_value(instance, "DRIVER", nullptr, std::span(buffer).first(8), &size),
            234);
  EXPECT_EQ(size, 9u);
  EXPECT_EQ(buffer[0], 0xEE);
  for (std::string_view path :
       {"", "\\", "Enum\\", "\\Enum", "Enum\\\\PCMCIA", "HKEY_LOCAL_MACHINE\\Enum"}) {
    KeyHandle missing = 99;
    EXPECT_EQ(registry.open_key(path, KeyAccess::kRead, &missing), 2) << path;
    EXPECT_EQ(missing, kNoKey) << path;
  }
  KeyHandle key = kNoKey;
  std::uint32_t disposition = 0;
  for (const auto& [handle, status] :
       {std::pair{read_only, 5}, {closed, 6}, {KeyHandle{12345}, 6}}) {
    SCOPED_TRACE(testing::Message() << "handle " << handle);
    EXPECT_EQ(registry.set_value(handle, "New", 3, bytes("x")), status);
    EXPECT_EQ(registry.delete_value(handle, "0000"), status);
    EXPECT_EQ(registry.create_key(handle, "Override", "C", &key, &disposition), status);
    EXPECT_EQ(key, kNoKey);
  }
  EXPECT_EQ(value(registry, closed, "0000"), "<error 6>");
  for (std::string_view subkey : {"", "\\", "A\\", "\\A", "A\\\\B"}) {
    EXPECT_EQ(registry.create_key(net, subkey, "", &key, &disposition), 2);
  }
  EXPECT_EQ(registry.create_key(net, "Ok\\Bad\nName", "", &key, &disposition), 87);
  EXPECT_EQ(registry.create_key(net, "Ok", "Bad\nClass", &key, &disposition), 87);
  EXPECT_EQ(registry.set_value(net, std::string_view("a\0b", 3), 3, bytes("1")), 87);
  const ino_t inode = stat_of(path_).st_ino;
  EXPECT_EQ(registry.flush(), 0);
  EXPECT_EQ(read_file(path_), kMachine);
  EXPECT_EQ(stat_of(path_).st_ino, inode);
  // A missing file is an empty registry, and reading it does not create it.
  FileRegistry none((dir_ / "none.reg").string());
  EXPECT_EQ(none.open_key("Enum", KeyAccess::kRead, &key), 2);
  EXPECT_EQ(none.flush(), 0);
  EXPECT_FALSE(fs::exists(dir_ / "none.reg"));
}

// New text goes where a person editing the file would put it, in the line ends around it, and
// every other byte stays.
TEST_F(FileRegistryTest, ChangesReachTheFileInOneSaveAtTheirPlaces) {
  const std::string machine = read_file(test::data_path("data/edits_before.reg"));
  write_file(path_, machine);
  ASSERT_EQ(chmod(path_.c_str(), 0640), 0);
  FileRegistry registry(path_.string());
  const KeyHandle a = open(registry, "Enum\\A");
  ASSERT_EQ(registry.set_value(a, "twice", 3, bytes("\x03")), 0);
  ASSERT_EQ(registry.set_value(a, "New", 1, bytes(std::string("v\0", 2))), 0);
  ASSERT_EQ(registry.delete_value(a, "GONE"), 0);
  ASSERT_EQ(registry.set_value(a, "Old", 3, bytes("\x01\x02")), 0);
  ASSERT_EQ(registry.set_value(open(registry, "Enum\\A\\implied"), "", 4,
                               bytes(std::string("\x05\0\0\0", 4))),
            0);
  KeyHandle made = kNoKey;
  std::uint32_t disposition = 0;
  ASSERT_EQ(registry.create_key(a, "Made", "MyClass", &made, &disposition), 0);
  EXPECT_EQ(disposition, 1u);
  std::string long_value;
  for (char c = 0; c < 60; ++c) long_value += c;
  ASSERT_EQ(registry.set_value(made, "0000", 3, bytes(long_value)), 0);
  KeyHandle deep = kNoKey;
  ASSERT_EQ(registry.create_key(made, "Deep", "", &deep, &disposition), 0);
  ASSERT_EQ(registry.set_value(deep, "d", 4, bytes(std::string("\x01\0\0\0", 4))), 0);
  ASSERT_EQ(registry.create_key(a, "Later", "", &made, &disposition), 0);
  ASSERT_EQ(registry.set_value(made, "", 1, bytes(std::string("z\0", 2))), 0);
  // Nothing reaches the file before the flush.
  EXPECT_EQ(read_file(path_), machine);

  ASSERT_EQ(registry.flush(), 0);
  EXPECT_EQ(read_file(path_), read_file(test::data_path("data/edits_after.reg")));
  EXPECT_EQ(stat_of(path_).st_mode & 07777, 0640u);

  // Nothing new: the second flush, and a second run that changes nothing, leave the file alone.
  const struct stat saved = stat_of(path_);
  EXPECT_EQ(registry.flush(), 0);
  FileRegistry again(path_.string());
  const KeyHandle key = open(again, "ENUM\\a");
  ASSERT_EQ(again.set_value(key, "NEW", 1, bytes(std::string("v\0", 2))), 0);
  ASSERT_EQ(again.create_key(key, "made", "Other", &made, &disposition), 0);
  EXPECT_EQ(disposition, 2u);
  EXPECT_EQ(again.flush(), 0);
  EXPECT_EQ(stat_of(path_).st_ino, saved.st_ino);
  EXPECT_EQ(stat_of(path_).st_mtim.tv_nsec, saved.st_mtim.tv_nsec);
}

TEST_F(FileRegistryTest, SavesThroughALinkAndAfterTheFileWasRemoved) {
  // A symbolic link stays, and the file it points to gets the change.
  const fs::path link = dir_ / "link.reg";
  fs::create_symlink(path_, link);
  {
    FileRegistry registry(link.string());
    ASSERT_EQ(registry.set_value(open(registry, kInstance), "New", 3, bytes("1")), 0);
    ASSERT_EQ(registry.flush(), 0);
  }
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(stored(kInstance, "New"), "3:1");
  // A file removed after loading is written anew, with mode 0644 and all it held.
  FileRegistry registry(path_.string());
  const KeyHandle key = open(registry, kInstance);
  fs::remove(path_);
  ASSERT_EQ(registry.set_value(key, "Newer", 3, bytes("2")), 0);
  ASSERT_EQ(registry.flush(), 0);
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

// A save failing in each way: the flush says so, the file stays as it was with no temporary file
// beside it, and the changes stay in memory for the next flush.
TEST_F(FileRegistryTest, FailedSaveLeavesTheFileAndKeepsTheChanges) {
  const fs::path dir = dir_ / "machine";
  const fs::path path = dir / "system.reg";
  for (const char* breakage : {"disk full", "directory in its place", "directory gone"}) {
    SCOPED_TRACE(breakage);
    fs::remove_all(dir);
    write_file(path, kMachine);
    set_old_mtime(path);
    FileRegistry registry(path.string());
    const KeyHandle log = open(registry, kLogConfig);
    ASSERT_EQ(registry.delete_value(log, "Other"), 0);
    RegStatus status = 0;
    if (breakage == std::string_view("disk full")) {
      FileSizeLimit limit;
      status = registry.flush();
    } else if (breakage == std::string_view("directory in its place")) {
      fs::remove(path);
      write_file(path / "inside", "x");
      status = registry.flush();
    } else {
      fs::remove_all(dir);
      status = registry.flush();
    }
    EXPECT_EQ(status, 29);
    if (breakage == std::string_view("disk full")) {
      EXPECT_EQ(read_file(path), kMachine);
      EXPECT_EQ(stat_of(path).st_mtim.tv_sec, 1000000);
    }
    if (fs::exists(dir)) {
      EXPECT_EQ(entries(dir), std::vector<std::string>{"system.reg"});
    }

    fs::remove_all(dir);
    fs::create_directories(dir);
    ASSERT_EQ(registry.flush(), 0);
    EXPECT_EQ(stored(kLogConfig, "Other", path), "<error 2>");
    EXPECT_EQ(stored(kLogConfig, "0001", path), "3:\x02");
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
      EXPECT_EQ(registry.open_key(key_path, KeyAccess::kAllAccess, &key), 1009);
    }
    for (KeyHandle handle : {KeyHandle{1}, KeyHandle{2}}) {
      EXPECT_EQ(value(registry, handle, "x"), "<error 1009>");
      EXPECT_EQ(registry.set_value(handle, "x", 3, bytes("1")), 1009);
      EXPECT_EQ(registry.delete_value(handle, "x"), 1009);
      EXPECT_EQ(registry.create_key(handle, "x", "", &key, &disposition), 1009);
      registry.close_key(handle);
    }
    // Nothing could change, so there is nothing to save.
    EXPECT_EQ(registry.flush(), 0);
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
