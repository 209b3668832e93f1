// Replacing and copying files the Windows way, run against an in-memory file system that can
// answer like Windows 95 (no replacing move) and fail any step on demand. The cases are in
// tests/data/replace_and_copy.txt.
#include "platform/safe_replace.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/test_util.h"

namespace reg7140 {
namespace {

using Files = std::map<std::string, std::string>;

class FakeFileSystem : public FileSystemOps {
 public:
  Files files;
  std::vector<std::string> log;
  unsigned long move_error = 0;  // what MoveFileExA answers
  std::set<std::string> rename_fails_from;
  std::set<std::string> remove_fails;
  std::string interpreter = "full";  // or "none", "short"

  WinError move_replacing(const char* from, const char* to) override {
    log.push_back(std::string("move ") + from + " " + to);
    if (move_error != 0) return move_error;
    if (!files.contains(from)) return kErrorFileNotFound;
    files[to] = files[from];
    files.erase(from);
    return 0;
  }
  int rename(const char* from, const char* to) override {
    log.push_back(std::string("rename ") + from + " " + to);
    if (rename_fails_from.contains(from)) return EACCES;
    if (!files.contains(from)) return ENOENT;
    if (files.contains(to)) return EACCES;
    files[to] = files[from];
    files.erase(from);
    return 0;
  }
  int remove(const char* path) override {
    log.push_back(std::string("remove ") + path);
    if (remove_fails.contains(path)) return EACCES;
    return files.erase(path) == 1 ? 0 : ENOENT;
  }
  bool file_size(const char* path, std::int64_t* size) override {
    auto found = files.find(path);
    if (found == files.end()) return false;
    *size = static_cast<std::int64_t>(found->second.size());
    return true;
  }
  void flush(const char* path) override { log.push_back(std::string("flush ") + path); }
  // Only copy "<from>" "<to>" > NUL is ever run.
  void run_command(const char* command) override {
    const std::string text(command);
    const std::size_t middle = text.find("\" \"");
    if (!text.starts_with("copy \"") || !text.ends_with("\" > NUL") || middle == text.npos) {
      ADD_FAILURE() << "command " << text;
      return;
    }
    const std::string from = text.substr(6, middle - 6);
    const std::string to = text.substr(middle + 3, text.size() - 7 - middle - 3);
    log.push_back("run " + from + " " + to);
    if (interpreter == "full") files[to] = files.at(from);
    if (interpreter == "short") files[to] = files.at(from).substr(1);
  }
};

// "inf", "sys", "src", or one of the first two with another extension ("inf.b00").
std::string path_of(const std::string& word) {
  const std::map<std::string, std::string> paths = {{"inf", "C:\\WINDOWS\\inf\\netzor.inf"},
                                                    {"sys", "C:\\WINDOWS\\system\\zvnd32.sys"},
                                                    {"src", "A:\\zvnd32.sys"}};
  const std::size_t dot = word.find('.');
  auto it = paths.find(word.substr(0, dot));
  if (it == paths.end()) return word;
  if (dot == std::string::npos) return it->second;
  return it->second.substr(0, it->second.size() - 3) + word.substr(dot + 1);
}

std::vector<std::string> words(const std::string& text, char separator = ' ') {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string word; std::getline(in, word, separator);) {
    if (!word.empty()) out.push_back(word.starts_with(' ') ? word.substr(1) : word);
  }
  return out;
}

Files files_of(const std::string& text, const Files& taken) {
  Files files = taken;
  for (const std::string& entry : words(text)) {
    const std::size_t equals = entry.rfind('=');
    files[path_of(entry.substr(0, equals))] = entry.substr(equals + 1);
  }
  return files;
}

TEST(SafeReplace, CasesFromTheTable) {
  const auto rows = test::load_table("data/replace_and_copy.txt");
  ASSERT_GT(rows.size(), 30u);
  for (const auto& row : rows) {
    ASSERT_EQ(row.size(), 7u) << row[0];
    SCOPED_TRACE(row[0]);
    FakeFileSystem fs;
    Files taken;
    for (const std::string& setting : words(row[2])) {
      const std::string key = setting.substr(0, setting.find('='));
      const std::string value = setting.substr(setting.find('=') + 1);
      if (key == "move") fs.move_error = std::stoul(value);
      if (key == "rename-fails") fs.rename_fails_from.insert(path_of(value));
      if (key == "remove-fails") fs.remove_fails.insert(path_of(value));
      if (key == "copy") fs.interpreter = value;
      for (int i = 0; key == "taken" && i < 100; ++i) {
        taken[path_of(value + (i < 10 ? "0" : "") + std::to_string(i))] = "taken";
      }
    }
    fs.files = files_of(row[3], taken);
    const std::vector<std::string> call = words(row[1]);
    ASSERT_EQ(call.size(), 3u);
    const int result = call[0] == "replace"
                           ? replace_file_via(fs, path_of(call[1]), path_of(call[2]))
                           : copy_file_via_interpreter(fs, path_of(call[1]), path_of(call[2]));
    EXPECT_EQ(result, test::errno_of(row[4]));
    EXPECT_EQ(fs.files, files_of(row[5], taken));
    if (row[6] != "-") {
      std::vector<std::string> steps;
      for (const std::string& step : words(row[6] == "none" ? "" : row[6], ';')) {
        std::string resolved;
        for (const std::string& word : words(step)) {
          resolved += (resolved.empty() ? word : " " + path_of(word));
        }
        steps.push_back(resolved);
      }
      EXPECT_EQ(fs.log, steps);
    }
  }
}

TEST(SafeReplace, SiblingNamesKeepTheDirectoryAndAShortBaseName) {
  const struct {
    const char* path;
    char tag;
    int number;
    const char* expected;
  } cases[] = {
      {"C:\\WINDOWS\\inf\\netzor.inf", 'b', 0, "C:\\WINDOWS\\inf\\netzor.b00"},
      {"C:\\WINDOWS\\system\\zvnd32.sys", 't', 42, "C:\\WINDOWS\\system\\zvnd32.t42"},
      {"C:\\dir.ext\\noext", 'b', 7, "C:\\dir.ext\\noext.b07"},
      {"C:\\dir\\verylongname.txt", 'b', 99, "C:\\dir\\verylong.b99"},
      {"C:\\dir\\ninechars.txt", 'b', 5, "C:\\dir\\ninechar.b05"},
      {"C:/dir/archive.tar.gz", 't', 1, "C:/dir/archive_.t01"},
      {"A:zvnd32.sys", 't', 3, "A:zvnd32.t03"},
      {"zvnd32.sys", 't', 0, "zvnd32.t00"},
  };
  for (const auto& c : cases) {
    PathText name;
    ASSERT_TRUE(sibling_name(c.path, c.tag, c.number, &name)) << c.path;
    EXPECT_EQ(name.view(), c.expected);
  }
  PathText name;
  EXPECT_FALSE(sibling_name("C:\\" + std::string(kMaxPath - 8, 'd') + "\\a.b", 'b', 0, &name));
}

TEST(SafeReplace, FixedTextRefusesTextThatDoesNotFitOrHoldsANul) {
  FixedText<8> text;
  ASSERT_TRUE(text.assign("abc"));
  EXPECT_FALSE(text.append("defgh"));  // 8 characters would leave no room for the terminator
  EXPECT_FALSE(text.append(std::string_view("d\0e", 3)));
  EXPECT_EQ(text.view(), "abc");
  ASSERT_TRUE(text.append("defg"));
  EXPECT_EQ(std::string(text.c_str()), "abcdefg");
}

}  // namespace
}  // namespace reg7140
