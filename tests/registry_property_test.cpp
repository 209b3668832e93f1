#include "tests/registry_property.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/test_util.h"

namespace reg7140 {
namespace {

class SeededChoices : public test::Choices {
 public:
  explicit SeededChoices(std::uint32_t seed) : engine_(seed) {}
  std::uint32_t below(std::uint32_t bound) override {
    return std::uniform_int_distribution<std::uint32_t>(0, bound - 1)(engine_);
  }

 private:
  std::mt19937 engine_;
};

TEST(RegistryFile, EveryChangeKeptAndEveryOtherLineUntouched) {
  test::TempDir dir;
  for (std::uint32_t seed = 1; seed <= 400; ++seed) {
    SeededChoices choices(seed);
    const std::string broke = test::check_registry_property(choices, dir / "system.reg");
    ASSERT_EQ(broke, "") << "seed " << seed;
  }
}

}  // namespace
}  // namespace reg7140
