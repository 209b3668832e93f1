// The command lines of tests/data/command_lines.txt and the split under test, shared by the
// unit test and the check that runs the same lines under Wine.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/command_line.h"
#include "tests/test_util.h"

namespace reg7140::test {

struct CommandLineCase {
  std::string line;
  std::vector<std::string> words;
  // "same"; "older" where the run-times of 2008 on, and Wine's, split the line otherwise; "wine"
  // where only Wine's does, as it takes argument 0 by the rules of the other words.
  std::string rule;
};

// The table's rows, with `program` for the program file's full path.
inline std::vector<CommandLineCase> command_line_cases(std::string_view program) {
  std::vector<CommandLineCase> cases;
  for (const auto& row : load_table("data/command_lines.txt")) {
    CommandLineCase c{row.at(1), {}, row.at(0)};
    for (std::size_t i = 2; i < row.size(); ++i) {
      c.words.push_back(row[i] == "<>"          ? ""
                        : row[i] == "<program>" ? std::string(program)
                                                : row[i]);
    }
    cases.push_back(std::move(c));
  }
  return cases;
}

// The words of the split into buffers of exactly `room`, nothing when it reports them too small;
// another count below 0 and a missing closing nullptr show as a last word of their own.
inline std::optional<std::vector<std::string>> split_words(std::string_view line,
                                                           std::string_view program,
                                                           CommandLineRoom room) {
  std::vector<char> text(room.text, '#');
  std::vector<char*> words(room.words, text.data());
  const int count = split_command_line(line, program, text, words);
  if (count == -1) return std::nullopt;
  if (count < 0) return std::vector<std::string>{"(count " + std::to_string(count) + ")"};
  std::vector<std::string> out(words.begin(), words.begin() + count);
  if (words[count] != nullptr) out.push_back("(no closing nullptr)");
  return out;
}

inline std::optional<std::vector<std::string>> split_words(std::string_view line,
                                                           std::string_view program) {
  return split_words(line, program, command_line_room(line.size(), program.size()));
}

// Words as [word] [word], bytes that would not show as <xHH>.
inline std::string show_words(const std::vector<std::string>& words) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const std::string& word : words) {
    out += out.empty() ? "[" : " [";
    for (const char c : word) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte < 0x20 || byte > 0x7E || c == '[' || c == ']' || c == '<') {
        out += {'<', 'x', kHex[byte >> 4], kHex[byte & 15], '>'};
      } else {
        out += c;
      }
    }
    out += ']';
  }
  return out;
}

}  // namespace reg7140::test
