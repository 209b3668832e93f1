#include "platform/command_line.h"

#include <gtest/gtest.h>

#include "tests/test_util.h"

namespace reg7140 {
namespace {

constexpr std::string_view kProgram = "C:\\disk\\reg7140.exe";

// The words of the split into buffers of exactly `room`; "(no room)" when it says they are too
// small, and a last word of its own for a missing closing nullptr.
std::vector<std::string> split(std::string_view line, CommandLineRoom room) {
  std::vector<char> text(room.text, '#');
  std::vector<char*> words(room.words, text.data());
  const int count = split_command_line(line, kProgram, text, words);
  if (count < 0) return {count == -1 ? "(no room)" : "(count below -1)"};
  std::vector<std::string> out(words.begin(), words.begin() + count);
  if (words[count] != nullptr) out.push_back("(no closing nullptr)");
  return out;
}

// Every row in the start-up's buffers, in buffers exactly as large as its words need and one
// character or one pointer short; the start-up's room is no larger than the worst rows need.
TEST(CommandLine, SplitsAsTheTableSays) {
  bool text_filled = false, words_filled = false;
  for (const auto& row : test::load_table("data/command_lines.txt")) {
    SCOPED_TRACE(row[1]);
    std::vector<std::string> expected;
    std::size_t text = 0;
    for (std::size_t i = 2; i < row.size(); ++i) {
      expected.push_back(row[i] == "<>"          ? ""
                         : row[i] == "<program>" ? std::string(kProgram)
                                                 : row[i]);
      text += expected.back().size() + 1;
    }
    const CommandLineRoom room = command_line_room(row[1].size(), kProgram.size());
    EXPECT_EQ(split(row[1], room), expected);
    EXPECT_EQ(split(row[1], {text, expected.size() + 1}), expected);
    EXPECT_EQ(split(row[1], {text - 1, expected.size() + 1}),
              std::vector<std::string>{"(no room)"});
    EXPECT_EQ(split(row[1], {text, expected.size()}), std::vector<std::string>{"(no room)"});
    text_filled |= room.text == text;
    words_filled |= room.words == expected.size() + 1;
  }
  EXPECT_TRUE(text_filled);
  EXPECT_TRUE(words_filled);
}

}  // namespace
}  // namespace reg7140
