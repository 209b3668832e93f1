#include "inf/inserted_text.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "registry/override_image.h"
#include "tests/test_util.h"

namespace reg7140 {
namespace {

// The block byte for byte as the adapter's INF files carry it: letter case of the hex rows, the
// blanks that pad each line, the continuation backslashes.
TEST(InsertedText, OverrideBlockIsTheAdaptersText) {
  std::string block;
  for (std::size_t i = 0; i < kOverrideLineCount; ++i) {
    EXPECT_LT(override_line(i).size(), kOverrideSlotSize);
    block += override_line(i);
  }
  EXPECT_EQ(block, test::read_file(test::data_path("data/override_block.txt")));
  EXPECT_TRUE(override_line(kOverrideLineCount).empty());
}

// The entry's data, read as an INF parser reads it (two-digit bytes between commas, blanks and
// backslashes ignored), is the override image; the memory-base line carries its value.
TEST(InsertedText, DataIsTheOverrideImageAndTheMemoryBase) {
  const auto parse = [](std::string_view text) {
    std::vector<std::uint8_t> bytes;
    std::string field;
    for (const char c : std::string(text) + ",") {
      if (c == ',' || c == '\n') {
        if (!field.empty())
          bytes.push_back(static_cast<std::uint8_t>(std::stoi(field, nullptr, 16)));
        EXPECT_LE(field.size(), 2u) << field;
        field.clear();
      } else if (c != ' ' && c != '\\') {
        EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(c))) << c;
        field.push_back(c);
      }
    }
    return bytes;
  };
  std::string data;
  for (std::size_t i = 2; i < kOverrideLineCount; ++i) data += override_line(i);
  EXPECT_EQ(parse(data), std::vector<std::uint8_t>(kOverrideImage.begin(), kOverrideImage.end()));
  ASSERT_TRUE(kMemoryBaseLine.starts_with("HKR,,MemoryBaseAddress,1,"));
  EXPECT_EQ(parse(kMemoryBaseLine.substr(25)),
            std::vector<std::uint8_t>(kMemoryBaseAddress.begin(), kMemoryBaseAddress.end()));
}

}  // namespace
}  // namespace reg7140
