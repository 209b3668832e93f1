#include "inf/inserted_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "registry/override_image.h"

namespace reg7140 {
namespace {

// The hex groups of lines 3 to 39 as the adapter's INF files write them, letter case included.
constexpr std::string_view kHexGroups[] = {
    "00,04,00,00", "00,20,00,00", "24,00,00,00", "02,00,00,00", "01,00,0c,00", "00,00,00,00",
    "00,00,00,00", "e0,ff,20,00", "00,00,ff,ff", "00,00,00,00", "45,00,00,00", "14,00,00,00",
    "04,00,00,00", "00,00,00,00", "ff,ff,00,00", "30,00,00,00", "34,00,00,00", "01,00,00,00",
    "01,00,14,00", "00,00,00,00", "00,00,00,00", "00,00,00,00", "00,F0,FF,FF", "00,10,00,00",
    "00,00,00,00", "FF,FF,FF,FF", "00,00,00,00", "02,00,00,00", "00,00,00,00", "19,00,00,00",
    "7c,89,00,00", "00,00,02,00", "32,32,32,02", "f0,03,00,00", "00,00,00,3f", "03",
    "00,00,00,00"};

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads the entry's data the way an INF parser does: comma-separated two-digit bytes, with the
// blanks and the continuation backslashes around them ignored.
std::vector<std::uint8_t> parse_entry_data() {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 2; i < kOverrideLineCount; ++i) {
    std::string field;
    for (char c : override_line(i)) {
      if (c == ',' || c == '\n') {
        if (!field.empty()) {
          EXPECT_EQ(field.size(), 2u) << "line " << i + 1 << ": " << field;
          bytes.push_back(
              static_cast<std::uint8_t>(hex_digit(field[0]) * 16 + hex_digit(field[1])));
        }
        field.clear();
      } else if (c != ' ' && c != '\\') {
        EXPECT_GE(hex_digit(c), 0) << "line " << i + 1;
        field.push_back(c);
      }
    }
  }
  return bytes;
}

TEST(OverrideBlock, DataReproducesTheOverrideImage) {
  const std::vector<std::uint8_t> bytes = parse_entry_data();
  ASSERT_EQ(bytes.size(), kOverrideImageSize);
  for (std::size_t i = 0; i < kOverrideImageSize; ++i) {
    EXPECT_EQ(bytes[i], kOverrideImage[i]) << "byte " << i;
  }
}

TEST(OverrideBlock, EntryLinesAndTheirPadding) {
  EXPECT_EQ(override_line(0), "; OVERRIDE FOR 4K RAM WINDOW\n");
  EXPECT_EQ(override_line(1), "HKR,Override,0000,1,\\       \n");
  ASSERT_EQ(std::size(kHexGroups), kOverrideLineCount - 2);
  for (std::size_t i = 2; i + 2 < kOverrideLineCount; ++i) {
    EXPECT_EQ(override_line(i), std::string(kHexGroups[i - 2]) + ", \\              \n")
        << "line " << i + 1;
  }
  EXPECT_EQ(override_line(37), "03,          \\              \n");
  EXPECT_EQ(override_line(38), "00,00,00,00                \n");
}

TEST(OverrideBlock, EveryLineFitsItsSlotAndOnlyTheLastEndsTheEntry) {
  for (std::size_t i = 0; i < kOverrideLineCount; ++i) {
    const std::string_view line = override_line(i);
    const std::size_t expected = i + 1 == kOverrideLineCount ? 28 : 29;
    EXPECT_EQ(line.size(), expected) << "line " << i + 1;
    EXPECT_LT(line.size(), kOverrideSlotSize);
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    // A continued entry line carries its backslash; the last data line closes the entry.
    const bool continued = line.find('\\') != std::string_view::npos;
    EXPECT_EQ(continued, i >= 1 && i + 1 < kOverrideLineCount) << "line " << i + 1;
  }
  EXPECT_TRUE(override_line(kOverrideLineCount).empty());
}

TEST(MemoryBaseLine, CarriesTheMemoryBaseValue) {
  EXPECT_EQ(kMemoryBaseLine, "HKR,,MemoryBaseAddress,1,01,00,00,00");
  EXPECT_EQ(kMemoryBaseLine.size(), 36u);
  const std::string_view data = kMemoryBaseLine.substr(kMemoryBaseLine.size() - 11);
  for (std::size_t i = 0; i < kMemoryBaseAddress.size(); ++i) {
    const int value = hex_digit(data[i * 3]) * 16 + hex_digit(data[i * 3 + 1]);
    EXPECT_EQ(value, kMemoryBaseAddress[i]) << "byte " << i;
  }
}

}  // namespace
}  // namespace reg7140
