// Under Wine: starts itself once for each row of tests/data/command_lines.txt with exactly that
// command line; the child checks the program's split of its line against the row's words and,
// on rows marked `same`, the C run-time's split too.
#include <process.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/command_line.h"
#include "tests/test_util.h"

int main() {
  char path[MAX_PATH];
  const std::string program(path, GetModuleFileNameA(nullptr, path, sizeof path));
  const auto rows = reg7140::test::load_table("data/command_lines.txt");
  if (const char* row_number = std::getenv("REG7140_ROW")) {
    const auto& row = rows.at(std::strtoul(row_number, nullptr, 10));
    std::vector<std::string> expected(row.begin() + 2, row.end());
    for (auto& word : expected) word = word == "<>" ? "" : word == "<program>" ? program : word;
    const std::string line = GetCommandLineA();
    const auto room = reg7140::command_line_room(line.size(), program.size());
    std::vector<char> text(room.text);
    std::vector<char*> words(room.words);
    const int count = reg7140::split_command_line(line, program, text, words);
    const bool split_ok =
        std::vector<std::string>(words.begin(), words.begin() + std::max(count, 0)) == expected;
    const bool runtime_ok = std::vector<std::string>(__argv, __argv + __argc) == expected;
    // Wine hands a program started with an empty line its quoted path instead.
    const bool ok = (line == row[1] || (row[1].empty() && line == '"' + program + '"')) &&
                    split_ok && (runtime_ok || row[0] != "same");
    std::printf("%s row %s (%s): line [%s], split %d, run-time %d\n", ok ? "ok" : "FAIL",
                row_number, row[0].c_str(), line.c_str(), split_ok, runtime_ok);
    return !ok;
  }
  // The run-time joins the arguments of a spawn with blanks and quotes none: a lone argument is
  // the child's command line as it stands.
  int failed = 0;
  for (std::size_t row = 0; row < rows.size(); ++row) {
    _putenv(("REG7140_ROW=" + std::to_string(row)).c_str());
    std::fflush(stdout);
    failed += _spawnl(_P_WAIT, program.c_str(), rows[row][1].c_str(), nullptr) != 0;
  }
  std::printf("%s: %zu command lines, %d failed\n", failed ? "FAILED" : "ok", rows.size(), failed);
  return failed != 0;
}
