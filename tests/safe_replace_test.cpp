// Replacing and copying files the Windows way, against a stand-in file system that can answer
// like Windows 95 (no replacing move) and fail any step on demand.
#include "platform/safe_replace.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/test_util.h"

namespace reg7140 {
namespace {

class StandIn : public FileSystemOps {
 public:
  std::map<std::string, std::string> files, setup;
  std::string log;

  WinError move_replacing(const char* from, const char* to) override {
    note("move " + std::string(from) + " " + to);
    return setup.contains("move") ? std::stol(setup["move"]) : (take(from, to) == 0 ? 0 : 2);
  }
  int rename(const char* from, const char* to) override {
    note("rename " + std::string(from) + " " + to);
    return setup["rename-fails"] == from || files.contains(to) ? EACCES : take(from, to);
  }
  int remove(const char* path) override {
    note("remove " + std::string(path));
    return setup["remove-fails"] == path ? EACCES : (files.erase(path) == 1 ? 0 : ENOENT);
  }
  bool file_size(const char* path, std::int64_t* size) override {
    return files.contains(path) && (*size = static_cast<std::int64_t>(files[path].size()), true);
  }
  void flush(const char* path) override { note("flush " + std::string(path)); }
  const char* command_interpreter() override {
    if (!setup.contains("comspec")) return "C:\\WINDOWS\\COMMAND.COM";
    return setup["comspec"] == "unset" ? nullptr : setup["comspec"].c_str();
  }
  bool run_program(const char* program, char* command) override {
    // "COMSPEC" /c copy "F" "T" > NUL, or cmd.exe unquoted found along the search path.
    if (program != nullptr && setup["comspec-fails"] == "yes") return false;
    const std::string head = program != nullptr ? "\"" + std::string(program) + "\"" : "cmd.exe";
    // No std::regex: its headers trip the optimised sanitizer build's uninitialised-use warning.
    const std::string line = command, start = head + " /c copy \"", end = "\" > NUL";
    const std::size_t split = line.find("\" \"", start.size());
    const bool shaped = line.starts_with(start) && line.ends_with(end) &&
                        split != std::string::npos && split > start.size() &&
                        split + 3 < line.size() - end.size() &&
                        line.find('"', start.size()) == split &&
                        line.find('"', split + 3) == line.size() - end.size();
    if (!shaped) return ADD_FAILURE() << command, true;
    const std::string from = line.substr(start.size(), split - start.size());
    const std::string to = line.substr(split + 3, line.size() - end.size() - split - 3);
    note("run " + from + " " + to + (program != nullptr ? "" : " with cmd.exe"));
    if (setup["copy"] != "none") files[to] = files.at(from).substr(setup["copy"] == "short");
    return true;
  }

 private:
  void note(const std::string& step) { log += (log.empty() ? "" : "; ") + step; }
  int take(const std::string& from, const std::string& to) {
    if (!files.contains(from)) return ENOENT;
    files[to] = std::move(files.extract(from).mapped());
    return 0;
  }
};

// path=content or key=value pairs between blanks (a tab or a line feed belongs to a path).
std::map<std::string, std::string> pairs(const std::string& text) {
  std::map<std::string, std::string> out;
  for (const std::string& word : test::words(text)) {
    const std::size_t equals = word.rfind('=');
    if (equals != std::string::npos && equals > 0)
      out[word.substr(0, equals)] = word.substr(equals + 1);
  }
  return out;
}

std::string text_of(const std::map<std::string, std::string>& files) {
  std::string text;
  for (const auto& [path, content] : files)
    text += (text.empty() ? "" : " ") + path + "=" + content;
  return text;
}

TEST(SafeReplace, CasesOfTheTable) {
  for (const auto& row : test::load_table("data/replace_and_copy.txt")) {
    SCOPED_TRACE(row[0]);
    StandIn fs;
    fs.setup = pairs(row[2]);
    fs.files = pairs(row[3]);
    for (int i = 0; fs.setup.contains("taken") && i < 100; ++i)
      fs.files[fs.setup["taken"] + (i < 10 ? "0" : "") + std::to_string(i)] = "taken";
    const std::string before = text_of(fs.files);
    const std::vector<std::string> call = test::words(row[1]);
    EXPECT_EQ(call[0] == "replace" ? replace_file_via(fs, call[1], call[2])
                                   : copy_file_via_interpreter(fs, call[1], call[2]),
              test::errno_of(row[4]));
    EXPECT_EQ(text_of(fs.files), row[5] == "unchanged" ? before : row[5]);
    EXPECT_EQ(row[6] == "-" ? "-" : fs.log, row[6] == "none" ? "" : row[6]);
  }
}

TEST(SafeReplace, SiblingNames) {
  for (const auto& row : test::load_table("data/sibling_names.txt")) {
    PathText name;
    const bool fits = sibling_name(row[1], row[2][0], std::stoi(row[2].substr(2)), &name);
    EXPECT_EQ(fits ? std::string(name.c_str()) : "does not fit", row[3]) << row[0];
  }
}

TEST(WindowsErrors, MappedAsTheRunTimeMapsThem) {
  for (const auto& row : test::load_table("data/windows_errors.txt"))
    EXPECT_EQ(errno_from_windows_error(std::stol(row[0])), test::errno_of(row[1])) << row[0];
}

}  // namespace
}  // namespace reg7140
