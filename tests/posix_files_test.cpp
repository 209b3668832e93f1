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

// The owner's write bit stands for the read-only attribute, for root too; the INF file must also
// be readable. make_writable sets the owner's read and write bits and keeps every other bit; so
// does a copy over a file. That a flushed file takes the old one's place is for the durability
// sweep to show.
TEST(PosixFiles, OwnerBitsAreTheReadOnlyAttribute) {
  test::TempDir dir;
  PosixFiles files;
  const std::string inf = (dir / "netzor.inf").string(), source = (dir / "zvnd32.sys").string();
  test::write_file(inf, "x");
  test::write_file(source, std::string("MZ\0\x1A\r\n", 6));
  ::chmod(inf.c_str(), 0250);
  EXPECT_TRUE(files.access(inf, AccessMode::kWrite));
  EXPECT_FALSE(files.access(inf, AccessMode::kReadWrite));
  ::chmod(inf.c_str(), 01071);
  files.make_writable(inf);
  EXPECT_EQ(std::filesystem::status(inf).permissions(), std::filesystem::perms(01671));
  ::chmod(inf.c_str(), 0450);
  EXPECT_EQ(files.copy_file(source, inf), 0);
  EXPECT_EQ(std::filesystem::status(inf).permissions(), std::filesystem::perms(0650));
  EXPECT_EQ(test::read_file(inf), test::read_file(source));
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
