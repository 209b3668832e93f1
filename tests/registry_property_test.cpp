#include "tests/registry_property.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/test_util.h"

namespace reg7140 {
namespace {

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

}  // namespace
}  // namespace reg7140
