#include "platform/posix/posix_environment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace reg7140 {
namespace {

// Windows matches variable names without regard to the case of ASCII letters, A to Z; an exact
// spelling comes first.
TEST(PosixEnvironment, NamesMatchLikeWindows) {
  const char* names[] = {"Reg7140_Az_aZ", "REG7140_EXACT", "reg7140_exact", "REG7140_@["};
  for (const char* name : names) ::setenv(name, name, 1);
  PosixEnvironment environment;
  const auto get = [&](const char* name) {
    const char* value = environment.get_env(name);
    return std::string(value != nullptr ? value : "(unset)");
  };
  EXPECT_EQ(get("REG7140_aZ_Az"), "Reg7140_Az_aZ");
  EXPECT_EQ(get("reg7140_exact"), "reg7140_exact");
  EXPECT_EQ(get("REG7140_EXACT"), "REG7140_EXACT");
  EXPECT_EQ(get("REG7140_`{"), "(unset)");  // '@' and '[' are no letters
  EXPECT_EQ(get("REG7140_AZ_A"), "(unset)");
  EXPECT_EQ(get("REG7140_AZ_AZ_"), "(unset)");
  for (const char* name : names) ::unsetenv(name);
  EXPECT_EQ(get("REG7140_AZ_AZ"), "(unset)");
}

}  // namespace
}  // namespace reg7140
