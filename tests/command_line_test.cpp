#include <gtest/gtest.h>

#include <numeric>

#include "tests/command_line_cases.h"

namespace reg7140 {
namespace {

constexpr std::string_view kProgram = "C:\\disk\\reg7140.exe";

// Every row in buffers of the size the start-up takes, then in buffers exactly as large as the
// words need and one character or one pointer short of that. The start-up's room is no larger
// than the table's worst lines need.
TEST(CommandLine, SplitsAsTheTableSays) {
  const auto cases = test::command_line_cases(kProgram);
  ASSERT_GT(cases.size(), 40u);
  bool text_filled = false, words_filled = false;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.line));
    EXPECT_TRUE(c.rule == "same" || c.rule == "older" || c.rule == "wine") << c.rule;
    ASSERT_EQ(
        test::show_words(
            test::split_words(c.line, kProgram).value_or(std::vector<std::string>{"(no room)"})),
        test::show_words(c.words));

    const std::size_t text =
        std::accumulate(c.words.begin(), c.words.end(), std::size_t{0},
                        [](std::size_t n, const std::string& word) { return n + word.size() + 1; });
    const std::size_t words = c.words.size() + 1;
    EXPECT_EQ(test::split_words(c.line, kProgram, {text, words}), c.words);
    EXPECT_EQ(test::split_words(c.line, kProgram, {text - 1, words}), std::nullopt);
    EXPECT_EQ(test::split_words(c.line, kProgram, {text, words - 1}), std::nullopt);
    const CommandLineRoom room = command_line_room(c.line.size(), kProgram.size());
    text_filled |= room.text == text;
    words_filled |= room.words == words;
  }
  EXPECT_TRUE(text_filled);
  EXPECT_TRUE(words_filled);
}

}  // namespace
}  // namespace reg7140
