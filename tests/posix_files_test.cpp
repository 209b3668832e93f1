// What the emulated machine's host adds: the read-only attribute, whole files put in place,
// environment names matched as Windows matches them. How Windows paths map onto the host's
// spellings is for whole runs to show (run_*_spelled_*, run_upper_case_names).
#include "platform/posix/posix_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/posix/posix_environment.h"
#include "tests/test_util.h"

namespace {
using namespace reg7140;

// The owner's write bit stands for the read-only attribute, for root too: make_writable sets it
// and the owner's read bit, and keeps every other bit. A replacement puts the new file in place
// only once it is flushed; a copy keeps the destination's mode, with writing allowed.
TEST(PosixFiles, AttributesAndWholeFiles) {
  test::TempDir dir;
  PosixFiles files;
  const std::string inf = (dir / "netzor.inf").string(), new_inf = (dir / "netzor.new").string();
  const int cases[][4] = {{0444, 0, 0, 0644}, {0200, 1, 0, 0600}, {01071, 0, 0, 01671}};
  for (const auto [mode, write, read_write, writable] : cases) {
    test::write_file(inf, "x");
    ::chmod(inf.c_str(), mode);
    EXPECT_EQ(files.access(inf, AccessMode::kWrite), write != 0) << mode;
    EXPECT_EQ(files.access(inf, AccessMode::kReadWrite), read_write != 0) << mode;
    files.make_writable(inf);
    EXPECT_EQ(std::filesystem::status(inf).permissions(), std::filesystem::perms(writable));
  }
  test::write_file(new_inf, "new");
  EXPECT_EQ(files.replace_file("/proc/self/status", inf), EINVAL);
  EXPECT_EQ(files.replace_file(new_inf, inf), 0);
  ::chmod(inf.c_str(), 0450);
  EXPECT_EQ(files.copy_file((dir / "missing").string(), inf), ENOENT);
  test::write_file(new_inf, std::string("MZ\0\x1A\r\n", 6));
  EXPECT_EQ(files.copy_file(new_inf, inf), 0);
  EXPECT_EQ(std::filesystem::status(inf).permissions(), std::filesystem::perms(0650));
  EXPECT_EQ(test::read_file(inf), test::read_file(new_inf));
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
