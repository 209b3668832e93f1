// The pieces the Windows build alone runs: replacing and copying files the Windows way, against a
// stand-in file system that can answer like Windows 95 (no replacing move) and fail any step on
// demand; the C run-time's mapping of Windows errors; the start-up's split of the command line.
#include "platform/safe_replace.h"

#include <gtest/gtest.h>

#include <tuple>

#include "platform/command_line.h"
#include "tests/test_util.h"

namespace {
using namespace reg7140;

struct StandIn : FileSystemOps {
  std::map<std::string, std::string> files, setup;
  std::string log;
  // Logs the step; unless it fails (or is only logged), moves `from` to `to`, or deletes it.
  int step(const char* what, const std::string& from, const std::string& to, bool fails) {
    log +=
        (log.empty() ? "" : "; ") + std::string(what) + " " + from + (to.empty() ? "" : " ") + to;
    if (fails || !files.contains(from)) return fails ? EACCES : ENOENT;
    return to.empty() ? files.erase(from) : (files[to] = files.extract(from).mapped(), 0), 0;
  }
  WinError move_replacing(const char* from, const char* to) override {
    if (setup.contains("move")) return step("move", from, to, true), std::stol(setup["move"]);
    return step("move", from, to, false) == 0 ? 0 : 2;
  }
  int rename(const char* from, const char* to) override {
    return step("rename", from, to, setup["rename-fails"] == from || files.contains(to));
  }
  int remove(const char* path) override {
    return step("remove", path, "", setup["remove-fails"] == path);
  }
  void flush(const char* path) override { step("flush", path, "", true); }
  bool file_size(const char* path, std::int64_t* size) override {
    return files.contains(path) && (*size = std::ssize(files[path]), true);
  }
  const char* command_interpreter() override {
    const std::string& name =
        setup.try_emplace("comspec", "C:\\WINDOWS\\COMMAND.COM").first->second;
    return name == "unset" ? nullptr : name.c_str();
  }
  // The one line allowed: "COMSPEC" /c copy "F" "T" > NUL, or cmd.exe unquoted.
  bool run_program(const char* program, char* command) override {
    if (program != nullptr && setup["comspec-fails"] == "yes") return false;
    const std::string line = command;
    std::vector<std::string> part(1);
    for (const char c : line) c == '"' ? void(part.emplace_back()) : part.back().push_back(c);
    if (part.size() != (program != nullptr ? 7u : 5u)) return ADD_FAILURE() << line, true;
    const std::string from = part[part.size() - 4], to = part[part.size() - 2];
    EXPECT_EQ(line, (program != nullptr ? "\"" + std::string(program) + "\"" : "cmd.exe") +
                        " /c copy \"" + from + "\" \"" + to + "\" > NUL");
    step("run", from, to + (program != nullptr ? "" : " with cmd.exe"), true);
    if (setup["copy"] != "none") files[to] = files.at(from).substr(setup["copy"] == "short");
    return true;
  }
};

// path=content or key=value pairs between blanks (a tab or a line feed belongs to a path).
std::map<std::string, std::string> pairs(const std::string& text) {
  std::map<std::string, std::string> out;
  for (const std::string& word : test::words(text))
    if (const std::size_t eq = word.rfind('='); eq != std::string::npos && eq > 0)
      out[word.substr(0, eq)] = word.substr(eq + 1);
  return out;
}

TEST(SafeReplace, CasesOfTheTables) {
  for (const auto& row : test::load_table("data/replace_and_copy.txt")) {
    SCOPED_TRACE(row[0]);
    StandIn fs;
    fs.setup = pairs(row[2]);
    fs.files = pairs(row[3]);
    for (int i = 0; fs.setup.contains("taken") && i < 100; ++i)
      fs.files[fs.setup["taken"] + (i < 10 ? "0" : "") + std::to_string(i)] = "taken";
    const auto before = fs.files;
    const std::vector<std::string> call = test::words(row[1]);
    EXPECT_EQ(call[0] == "replace" ? replace_file_via(fs, call[1], call[2])
                                   : copy_file_via_interpreter(fs, call[1], call[2]),
              test::errno_of(row[4]));
    EXPECT_EQ(fs.files, row[5] == "unchanged" ? before : pairs(row[5]));
    EXPECT_EQ(row[6] == "-" ? "-" : fs.log, row[6] == "none" ? "" : row[6]);
  }
  for (const auto& row : test::load_table("data/sibling_names.txt")) {
    PathText name;
    const bool fits = sibling_name(row[1], row[2][0], std::stoi(row[2].substr(2)), &name);
    EXPECT_EQ(fits ? std::string(name.c_str()) : "does not fit", row[3]) << row[0];
  }
  for (const auto& row : test::load_table("data/windows_errors.txt"))
    EXPECT_EQ(errno_from_windows_error(std::stol(row[0])), test::errno_of(row[1])) << row[0];
}

// Every row in the start-up's room, in room exactly as large as its words need, and one
// character or one pointer short; the start-up's room is no larger than the worst rows need.
TEST(CommandLine, SplitsAsTheTableSays) {
  constexpr std::string_view kProgram = "C:\\disk\\reg7140.exe";
  bool text_filled = false, words_filled = false;
  for (const auto& row : test::load_table("data/command_lines.txt")) {
    std::vector<std::string> expected(row.begin() + 2, row.end());
    std::size_t text = 0, slots = expected.size() + 1;
    for (auto& word : expected)
      text += (word = word == "<>" ? "" : word == "<program>" ? kProgram : word).size() + 1;
    const CommandLineRoom room = command_line_room(row[1].size(), kProgram.size());
    text_filled |= room.text == text;
    words_filled |= room.words == slots;
    const std::size_t rooms[][3] = {
        {room.text, room.words, 1}, {text, slots, 1}, {text - 1, slots, 0}, {text, slots - 1, 0}};
    for (const auto [chars, pointers, fits] : rooms) {
      std::vector<char> buffer(chars, '#');
      std::vector<char*> words(pointers, buffer.data());
      const int count = split_command_line(row[1], kProgram, buffer, words);
      ASSERT_EQ(count, fits ? std::ssize(expected) : -1) << row[1] << " " << chars;
      EXPECT_EQ(fits ? std::vector<std::string>(words.begin(), words.begin() + count) : expected,
                expected);
      EXPECT_TRUE(!fits || words[count] == nullptr) << row[1];
    }
  }
  EXPECT_TRUE(text_filled && words_filled);
}

}  // namespace
