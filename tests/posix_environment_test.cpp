#include "platform/posix/posix_environment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace reg7140 {
namespace {

// Windows matches variable names without regard to letter case; an exact spelling comes first.
TEST(PosixEnvironment, NamesMatchLikeWindows) {
  ::setenv("Reg7140_Test_Dir", "/tmp/folded", 1);
  ::setenv("REG7140_TEST_EXACT", "/tmp/exact", 1);
  ::setenv("reg7140_test_exact", "/tmp/lower", 1);
  PosixEnvironment environment;
  const char* folded = environment.get_env("REG7140_TEST_DIR");
  ASSERT_NE(folded, nullptr);
  EXPECT_EQ(std::string(folded), "/tmp/folded");
  EXPECT_EQ(std::string(environment.get_env("reg7140_test_exact")), "/tmp/lower");
  EXPECT_EQ(std::string(environment.get_env("REG7140_TEST_EXACT")), "/tmp/exact");
  EXPECT_EQ(environment.get_env("REG7140_TEST_DI"), nullptr);
  EXPECT_EQ(environment.get_env("REG7140_TEST_DIRX"), nullptr);
  ::unsetenv("Reg7140_Test_Dir");
  EXPECT_EQ(environment.get_env("REG7140_TEST_DIR"), nullptr);
}

}  // namespace
}  // namespace reg7140
