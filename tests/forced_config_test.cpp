// The forced-configuration walk and the insertion of the memory window, on byte buffers.
#include "registry/forced_config.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "registry/override_image.h"

namespace reg7140 {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes image_slice(std::size_t from, std::size_t to) {
  return Bytes(kOverrideImage.begin() + static_cast<std::ptrdiff_t>(from),
               kOverrideImage.begin() + static_cast<std::ptrdiff_t>(to));
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// A record of `length` bytes (8-byte head included) with the given type.
Bytes record(std::uint32_t length, std::uint32_t type, std::uint8_t fill = 0xAA) {
  Bytes out(length, fill);
  for (int i = 0; i < 4; ++i) {
    out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(length >> (8 * i));
    out[static_cast<std::size_t>(4 + i)] = static_cast<std::uint8_t>(type >> (8 * i));
  }
  return out;
}

const Bytes kHeader = image_slice(0, 8);
const Bytes kEndMark = {0, 0, 0, 0};
const Bytes kAnchor = image_slice(116, 141);

Bytes inserted_window() {
  Bytes out = image_slice(64, 116);
  for (const BytePatch& patch : kWindowPatch) out[patch.offset] = patch.value;
  return out;
}

// Runs walk and insertion the way the registry job does; nullopt when there is no room, the
// input itself when nothing is to be written.
std::optional<Bytes> grow(const Bytes& value) {
  const ForcedConfigWalk walk = walk_forced_config(value);
  if (walk.memory_present) return value;
  if (walk.walk_end + 52 > 256) return std::nullopt;
  std::array<std::uint8_t, kForcedConfigAreaSize> area{};
  std::copy(value.begin(), value.end(), area.begin());
  const std::size_t length = insert_memory_window(area, value.size(), walk);
  return Bytes(area.begin(), area.begin() + static_cast<std::ptrdiff_t>(length));
}

TEST(OverrideImage, RecordsWalkToTheEndMark) {
  const ForcedConfigWalk walk = walk_forced_config(kOverrideImage);
  EXPECT_TRUE(walk.memory_present);
  EXPECT_EQ(walk.anchor, 116u);
  EXPECT_EQ(walk.walk_end, 141u);
  EXPECT_EQ(walk.walk_end + 4, kOverrideImage.size());
}

TEST(OverrideImage, InsertedWindowDiffersInExactlyFourBytes) {
  const Bytes window = inserted_window();
  const Bytes original = image_slice(64, 116);
  std::vector<std::size_t> differing;
  for (std::size_t i = 0; i < window.size(); ++i) {
    if (window[i] != original[i]) differing.push_back(i);
  }
  EXPECT_EQ(differing, (std::vector<std::size_t>{14, 16, 17, 18}));
  // 0x000C0000 .. 0x000C0FFF
  EXPECT_EQ(Bytes(window.begin() + 12, window.begin() + 20),
            (Bytes{0x00, 0x00, 0x0C, 0x00, 0xFF, 0x0F, 0x0C, 0x00}));
}

TEST(ForcedConfig, ImageWithoutItsWindowGrowsBackIntoTheImage) {
  const Bytes value = concat({image_slice(0, 64), kAnchor, kEndMark});
  ASSERT_EQ(value.size(), 93u);
  const auto grown = grow(value);
  ASSERT_TRUE(grown);
  ASSERT_EQ(grown->size(), 145u);
  Bytes expected(kOverrideImage.begin(), kOverrideImage.end());
  expected[78] = 0x0C;
  expected[80] = 0xFF;
  expected[81] = 0x0F;
  expected[82] = 0x0C;
  EXPECT_EQ(*grown, expected);
  // A second run finds the window and leaves the value alone.
  EXPECT_TRUE(walk_forced_config(*grown).memory_present);
}

// A record head claiming `length` bytes, followed by `actual - 8` payload bytes.
Bytes head(std::uint32_t length, std::uint32_t type, std::size_t actual) {
  Bytes out = record(static_cast<std::uint32_t>(actual), type);
  for (int i = 0; i < 4; ++i)
    out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(length >> (8 * i));
  return out;
}

struct InsertCase {
  const char* name;
  Bytes value;
  Bytes expected;
  bool settles = true;  // a second run finds the window
};

class InsertTest : public testing::TestWithParam<InsertCase> {};

TEST_P(InsertTest, GrowsAsExpected) {
  const auto grown = grow(GetParam().value);
  ASSERT_TRUE(grown);
  EXPECT_EQ(*grown, GetParam().expected);
  EXPECT_EQ(walk_forced_config(*grown).memory_present, GetParam().settles);
}

const Bytes kLongTail = concat({kAnchor, record(90, 0x12), kEndMark});
const Bytes kRoomy = concat({kHeader, record(196, 4), kEndMark});  // end mark at 204

INSTANTIATE_TEST_SUITE_P(
    Cases, InsertTest,
    testing::Values(
        InsertCase{"TailLongerThanTheRecordMovesWhole", concat({kHeader, record(20, 4), kLongTail}),
                   concat({kHeader, record(20, 4), inserted_window(), kLongTail})},
        InsertCase{
            "LaterOfTwoAnchorsWins",
            concat({kHeader, record(12, 0x117C), record(12, 0x227C), kEndMark}),
            concat({kHeader, record(12, 0x117C), inserted_window(), record(12, 0x227C), kEndMark})},
        InsertCase{"AnchorKnownByItsLowTypeByteAlone",
                   concat({kHeader, record(10, 0xFFFFFF7C), kEndMark}),
                   concat({kHeader, inserted_window(), record(10, 0xFFFFFF7C), kEndMark})},
        InsertCase{"MemoryTypeAfterTheEndMarkDoesNotCount",
                   concat({kHeader, record(20, 4), kEndMark, record(12, 1)}),
                   concat({kHeader, record(20, 4), inserted_window(), kEndMark, record(12, 1)})},
        InsertCase{"NoAnchorGoesInFrontOfTheEndMark", concat({kHeader, record(20, 4), kEndMark}),
                   concat({kHeader, record(20, 4), inserted_window(), kEndMark})},
        InsertCase{"LengthByteZeroAtEightStopsAtOnce", concat({kHeader, kEndMark}),
                   concat({kHeader, inserted_window(), kEndMark})},
        InsertCase{"ShortValueIsNotWalkedAndGetsTheRecordAppended", kHeader,
                   concat({kHeader, inserted_window()})},
        InsertCase{"LengthOf256CountsAsEndMark", concat({kHeader, head(256, 4, 12)}),
                   concat({kHeader, inserted_window(), head(256, 4, 12)})},
        InsertCase{"LengthCountsModulo256", concat({kHeader, head(264, 4, 8), kAnchor, kEndMark}),
                   concat({kHeader, head(264, 4, 8), inserted_window(), kAnchor, kEndMark})},
        InsertCase{"RecordRunningPastTheValueAppendsAtItsEnd", concat({kHeader, head(100, 4, 12)}),
                   concat({kHeader, head(100, 4, 12), inserted_window()}), false},
        // The grown value passes 256 bytes; it is written whole.
        InsertCase{"WalkEnd204StillFits", kRoomy,
                   concat({kHeader, record(196, 4), inserted_window(), kEndMark})}),
    [](const testing::TestParamInfo<InsertCase>& param_info) {
      return std::string(param_info.param.name);
    });

TEST(ForcedConfig, ValueWithAMemoryRecordIsLeftAlone) {
  const Bytes value = concat({kHeader, record(20, 4), record(16, 0x301), kAnchor, kEndMark});
  EXPECT_EQ(grow(value), value);
}

TEST(ForcedConfig, RoomBoundary) {
  EXPECT_EQ(walk_forced_config(kRoomy).walk_end, 204u);
  const Bytes tight = concat({kHeader, record(197, 4), kEndMark});
  EXPECT_EQ(walk_forced_config(tight).walk_end, 205u);
  EXPECT_FALSE(grow(tight));
  // A walk that reaches 256 never has room.
  const Bytes full = concat({kHeader, record(248, 4)});
  EXPECT_EQ(walk_forced_config(full).walk_end, 256u);
  EXPECT_FALSE(grow(full));
}

}  // namespace
}  // namespace reg7140
