#include "platform/posix/file_registry.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <random>

#include "tests/registry_property.h"
#include "tests/test_util.h"

namespace reg7140 {
namespace {

namespace fs = std::filesystem;
using test::read_file;
using test::write_file;

std::span<const std::uint8_t> bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}
struct stat stat_of(const fs::path& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st;
}

TEST(RegistryFile, EveryChangeKeptAndEveryOtherLineUntouched) {
  test::TempDir dir;
  for (std::uint32_t seed = 1; seed <= 400; ++seed) {
    std::mt19937 engine(seed);
    const auto below = [&](std::uint32_t n) {
      return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(engine);
    };
    ASSERT_EQ(test::check_registry_property(below, dir / "system.reg"), "") << "seed " << seed;
  }
}

// The calls of data/registry_edits.txt: nothing reaches the file before the flush, which puts new
// text where a person editing the file would and keeps every other byte and the file's mode; a
// second flush with nothing new leaves the file alone.
TEST(FileRegistry, ChangesReachTheFileInOneSaveAtTheirPlaces) {
  test::TempDir dir;
  const fs::path path = dir / "system.reg";
  const std::string before = read_file(test::data_path("data/edits_before.reg"));
  write_file(path, before);
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  FileRegistry registry(path.string());
  std::map<std::string, KeyHandle> keys;
  std::uint32_t disposition = 0;
  for (const auto& row : test::load_table("data/registry_edits.txt")) {
    SCOPED_TRACE(row[0] + " " + row[1] + " " + row[2]);
    KeyHandle& key = keys[row[0]];
    RegStatus status = key == kNoKey ? registry.open_key(row[0], KeyAccess::kAllAccess, &key) : 0;
    if (row[1] == "set")
      status = registry.set_value(key, row[2], std::stoul(row[3]), bytes(row[4]));
    if (row[1] == "delete") status = registry.delete_value(key, row[2]);
    if (row[1] == "create") {
      status = registry.create_key(key, row[2], row.size() > 3 ? row[3] : "",
                                   &keys[row[0] + "\\" + row[2]], &disposition);
      EXPECT_EQ(disposition, row.size() > 4 ? std::stoul(row[4]) : 1u);
    }
    EXPECT_EQ(status, 0);
  }
  EXPECT_EQ(read_file(path), before);
  ASSERT_EQ(registry.flush(), 0);
  EXPECT_EQ(read_file(path), read_file(test::data_path("data/edits_after.reg")));
  EXPECT_EQ(stat_of(path).st_mode & 07777, 0640u);
  const struct stat saved = stat_of(path);
  EXPECT_EQ(registry.flush(), 0);
  EXPECT_EQ(stat_of(path).st_ino, saved.st_ino);
}

// Through a link, the link stays and the file it leads to changes; a file removed after loading is
// written anew, mode 0644, with all it held.
TEST(FileRegistry, SavesThroughALinkAndAfterTheFileWasRemoved) {
  test::TempDir dir;
  const fs::path path = dir / "system.reg";
  write_file(path, read_file(test::data_path("data/small_machine.reg")));
  fs::create_symlink(path, dir / "link.reg");
  for (const fs::path& name : {dir / "link.reg", path}) {
    FileRegistry registry(name.string());
    KeyHandle key = kNoKey;
    ASSERT_EQ(
        registry.open_key("Enum\\PCMCIA\\ZORVAN-NR_32/8_KV-61C7\\0", KeyAccess::kAllAccess, &key),
        0);
    if (name == path) fs::remove(path);
    ASSERT_EQ(registry.set_value(key, name.filename().string(), 3, bytes("1")), 0);
    ASSERT_EQ(registry.flush(), 0);
  }
  EXPECT_TRUE(fs::is_symlink(dir / "link.reg"));
  EXPECT_EQ(stat_of(path).st_mode & 07777, 0644u);
  const std::string saved = read_file(path);
  for (std::string_view line : {"\"link.reg\"=hex:31", "\"system.reg\"=hex:31", "\"Mine\"=hex(7)"})
    EXPECT_NE(saved.find(line), std::string::npos) << line;
}

// A save the disk cannot take: the flush says so, the file stays as it was with no temporary file
// beside it, and the change is kept for the next flush.
TEST(FileRegistry, FailedSaveLeavesTheFileAndKeepsTheChanges) {
  test::TempDir dir;
  const fs::path path = dir / "system.reg";
  const std::string machine = read_file(test::data_path("data/small_machine.reg"));
  write_file(path, machine);
  FileRegistry registry(path.string());
  KeyHandle key = kNoKey;
  ASSERT_EQ(registry.open_key("System\\CurrentControlSet\\Services\\Class\\Net\\0000",
                              KeyAccess::kAllAccess, &key),
            0);
  ASSERT_EQ(registry.delete_value(key, "DriverDesc"), 0);
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 16;
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  const RegStatus status = registry.flush();
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(status, 29);
  EXPECT_EQ(read_file(path), machine);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
  ASSERT_EQ(registry.flush(), 0);
  EXPECT_EQ(read_file(path).find("DriverDesc"), std::string::npos);
}

// A file that does not read as REGEDIT4 text (data/bad_registry_files.txt), a directory, a link
// that leads nowhere: every call fails, and the file is never replaced.
TEST(FileRegistry, UnreadableRegistryFailsEveryCallAndIsLeftAlone) {
  test::TempDir dir;
  const fs::path path = dir / "system.reg";
  const auto check = [](const fs::path& file) {
    FileRegistry registry(file.string());
    KeyHandle key = kNoKey;
    std::uint32_t size = 0;
    EXPECT_EQ(registry.open_key("Enum", KeyAccess::kAllAccess, &key), 1009);
    EXPECT_EQ(registry.query_value(1, "x", nullptr, {}, &size), 1009);
    EXPECT_EQ(registry.set_value(1, "x", 3, bytes("1")), 1009);
    EXPECT_EQ(registry.flush(), 0);
  };
  for (const auto& row : test::load_table("data/bad_registry_files.txt")) {
    SCOPED_TRACE(row[0]);
    write_file(path, row.at(1));
    check(path);
    EXPECT_EQ(read_file(path), row[1]);
  }
  fs::remove(path);
  fs::create_directory(path);
  check(path);
  fs::create_symlink(dir / "loop.reg", dir / "loop.reg");
  check(dir / "loop.reg");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

}  // namespace
}  // namespace reg7140
