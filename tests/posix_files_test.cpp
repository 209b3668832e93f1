// What the emulated machine's host adds: the read-only attribute, whole files put in place,
// Windows paths mapped onto the spelling on disk, environment names matched as Windows does.
#include "platform/posix/posix_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <tuple>

#include "platform/posix/host_path.h"
#include "platform/posix/posix_environment.h"
#include "tests/test_util.h"

namespace {
using namespace reg7140;
namespace fs = std::filesystem;

// The owner's write bit stands for the read-only attribute, for root too: make_writable sets it
// and the owner's read bit, and keeps every other bit. A replacement puts the new file in place
// only once it is flushed; a copy takes the source's bytes and last-write time to the nanosecond
// and keeps the destination's mode, with writing allowed.
TEST(PosixFiles, AttributesAndWholeFiles) {
  test::TempDir dir;
  PosixFiles files;
  const std::string inf = (dir / "netzor.inf").string(), new_inf = (dir / "netzor.new").string(),
                    source = (dir / "disk/zvnd32.sys").string(),
                    target = (dir / "zvnd32.sys").string();
  const int cases[][4] = {{0444, 0, 0, 0644}, {0200, 1, 0, 0600}, {01071, 0, 0, 01671}};
  for (const auto [mode, write, read_write, writable] : cases) {
    test::write_file(inf, "x");
    ::chmod(inf.c_str(), mode);
    EXPECT_EQ(files.access(inf, AccessMode::kWrite), write != 0) << mode;
    EXPECT_EQ(files.access(inf, AccessMode::kReadWrite), read_write != 0) << mode;
    files.make_writable(inf);
    EXPECT_EQ(fs::status(inf).permissions(), fs::perms(writable)) << mode;
  }
  test::write_file(new_inf, "new");
  EXPECT_EQ(
      std::tuple(files.replace_file("/proc/self/status", inf), files.replace_file(new_inf, inf)),
      std::tuple(EINVAL, 0));
  EXPECT_EQ(test::read_file(inf), "new");
  const std::string bytes = std::string("MZ\0\x1A\r\n", 6) + std::string(200000, 'd');
  test::write_file(source, bytes);
  const struct timespec times[2] = {{0, 0}, {1000000000, 999999999}};
  ::utimensat(AT_FDCWD, source.c_str(), times, 0);
  for (const unsigned mode : {0u, 0450u}) {
    if (mode != 0) test::write_file(target, "old driver");
    ::chmod(target.c_str(), mode);
    struct stat copied;
    ASSERT_EQ(files.copy_file(source, target), 0);
    ASSERT_EQ(::stat(target.c_str(), &copied), 0);
    EXPECT_EQ(std::tuple(test::read_file(target) == bytes, copied.st_mode & 07777,
                         copied.st_mtim.tv_nsec),
              std::tuple(true, mode == 0 ? 0644u : 0650u, 999999999l));
  }
  EXPECT_EQ(files.copy_file((dir / "disk/missing.sys").string(), target), ENOENT);
}

// On a machine with several spellings of one name side by side, as a case-sensitive host allows.
// That every job's file keeps its spelling on disk is a whole-run scenario.
TEST(HostPath, MapsOntoTheExistingSpelling) {
  test::TempDir dir;
  for (const char* file : {"WINDOWS/Inf/Netzor.inf", "WINDOWS/iNF/x", "WINDOWS/inf/NETZOR.INF",
                           "WINDOWS/SYSTEM/zvnd32.SYS", "WINDOWS/SYSTEM/\xC4.TXT",
                           "WINDOWS/WIN.INI", "WINDOWS/system.dat"})
    test::write_file(dir / file, "x");
  const fs::path previous = fs::current_path();
  fs::current_path(dir.path());
  for (auto row : test::load_table("data/host_paths.txt")) {
    for (std::string& path : row)
      path = path.starts_with("$") ? dir.path().string() + path.substr(1) : path;
    // Every directory here can be listed, so a lookup for writing finds the same.
    std::string for_writing;
    const int error = to_host_path_for_writing(row[1], &for_writing);
    EXPECT_EQ(std::tuple(to_host_path(row[1]), error, for_writing), std::tuple(row[2], 0, row[2]))
        << row[0];
  }
  fs::current_path(previous);
}

// Windows matches variable names without regard to the case of ASCII letters, A to Z; an exact
// spelling comes first. Whole runs cannot show it: WINDIR is found by its exact name.
TEST(PosixEnvironment, NamesMatchLikeWindows) {
  const char* names[] = {"Reg7140_Az_aZ", "REG7140_EXACT", "reg7140_exact", "REG7140_@["};
  for (const char* name : names) ::setenv(name, name, 1);
  PosixEnvironment environment;
  const char* cases[][2] = {{"REG7140_aZ_Az", names[0]}, {"reg7140_exact", names[2]},
                            {"REG7140_EXACT", names[1]}, {"REG7140_`{", nullptr},  // no letters
                            {"REG7140_AZ_A", nullptr},   {"REG7140_AZ_AZ_", nullptr}};
  for (const auto [name, value] : cases) EXPECT_STREQ(environment.get_env(name), value) << name;
  for (const char* name : names) ::unsetenv(name);
}

}  // namespace
