#include "platform/posix/posix_environment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>

namespace reg7140 {
namespace {

// Windows matches variable names without regard to the case of ASCII letters, A to Z; an exact
// spelling comes first. Whole runs cannot show it: the emulated machine finds its registry
// through WINDIR by that exact name.
TEST(PosixEnvironment, NamesMatchLikeWindows) {
  const char* names[] = {"Reg7140_Az_aZ", "REG7140_EXACT", "reg7140_exact", "REG7140_@["};
  for (const char* name : names) ::setenv(name, name, 1);
  PosixEnvironment environment;
  for (const auto& [name, value] : {std::pair<const char*, const char*>{"REG7140_aZ_Az", names[0]},
                                    {"reg7140_exact", names[2]},
                                    {"REG7140_EXACT", names[1]},
                                    {"REG7140_`{", nullptr},  // '@' and '[' are no letters
                                    {"REG7140_AZ_A", nullptr},
                                    {"REG7140_AZ_AZ_", nullptr}}) {
    EXPECT_STREQ(environment.get_env(name), value) << name;
  }
  for (const char* name : names) ::unsetenv(name);
  EXPECT_EQ(environment.get_env("REG7140_AZ_AZ"), nullptr);
}

}  // namespace
}  // namespace reg7140
