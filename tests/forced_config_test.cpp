// The memory window in generated ForcedConfig values: bytes drawn mostly from the record lengths
// and types that matter (end marks, memory records, anchors, lengths that run to offset 204 or
// 205 or past the value), values of any length up to past 256 bytes.
#include <gtest/gtest.h>

#include <random>

#include "tests/forced_config_property.h"

TEST(ForcedConfig, WindowGoesWhereTheNextRunFindsIt) {
  std::mt19937 random(7140);
  for (int i = 0; i < 20000; ++i) {
    std::vector<std::uint8_t> value(random() % 300);
    for (auto& byte : value)
      byte = random() % 4 ? "\0\1\4\14\24\31\64\174\304\305"[random() % 10] : random();
    ASSERT_TRUE(reg7140::test::memory_window_goes_right(value)) << "value " << i;
  }
}
