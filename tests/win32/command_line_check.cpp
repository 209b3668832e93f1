// Under Wine: starts itself once for each row of tests/data/command_lines.txt with exactly that
// command line; the child checks the program's split of its line against the row's words and,
// on rows marked `same`, the C run-time's split too.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/command_line.h"
#include "tests/test_util.h"

int main() {
  char path[MAX_PATH];
  const std::string program(path, GetModuleFileNameA(nullptr, path, sizeof path));
  const auto rows = reg7140::test::load_table("data/command_lines.txt");
  if (const char* row_number = std::getenv("REG7140_ROW")) {
    const auto& row = rows.at(std::strtoul(row_number, nullptr, 10));
    std::vector<std::string> expected;
    for (std::size_t i = 2; i < row.size(); ++i) {
      expected.push_back(row[i] == "<>" ? "" : row[i] == "<program>" ? program : row[i]);
    }
    const std::string line = GetCommandLineA();
    const auto room = reg7140::command_line_room(line.size(), program.size());
    std::vector<char> text(room.text);
    std::vector<char*> words(room.words);
    const int count = reg7140::split_command_line(line, program, text, words);
    const std::vector<std::string> ours(words.begin(), words.begin() + (count > 0 ? count : 0));
    const bool runtime_ok = std::vector<std::string>(__argv, __argv + __argc) == expected;
    // Wine hands a program started with an empty line its quoted path instead.
    const bool ok = (line == row[1] || (row[1].empty() && line == '"' + program + '"')) &&
                    ours == expected && (runtime_ok || row[0] != "same");
    std::printf("%s row %s (%s): line [%s], split %s, run-time %s\n", ok ? "ok" : "FAIL",
                row_number, row[0].c_str(), line.c_str(), ours == expected ? "ok" : "differs",
                runtime_ok ? "agrees" : "differs");
    return ok ? 0 : 1;
  }
  int failed = 0;
  for (std::size_t row = 0; row < rows.size(); ++row) {
    SetEnvironmentVariableA("REG7140_ROW", std::to_string(row).c_str());
    std::string line = rows[row][1];
    STARTUPINFOA startup{.cb = sizeof(STARTUPINFOA)};
    PROCESS_INFORMATION started{};
    std::fflush(stdout);
    DWORD status = 3;
    if (CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                       &startup, &started)) {
      WaitForSingleObject(started.hProcess, INFINITE);
      GetExitCodeProcess(started.hProcess, &status);
    }
    failed += status != 0;
  }
  std::printf("%s: %zu command lines, %d failed\n", failed ? "FAILED" : "ok", rows.size(), failed);
  return failed ? 1 : 0;
}
