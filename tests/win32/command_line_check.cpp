// Under Wine: starts itself once for each command line of tests/data/command_lines.txt, with
// exactly that line, and the child checks that the program's split of its command line gives the
// table's words and, on the rows marked `same`, the C run-time's words too.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/command_line_cases.h"

namespace {

constexpr char kRowVariable[] = "REG7140_COMMAND_LINE_ROW";

std::string module_file() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  return std::string(path, length < sizeof path ? length : 0);
}

int child(std::size_t row) {
  const std::string program = module_file();
  const auto cases = reg7140::test::command_line_cases(program);
  if (row >= cases.size()) return 2;
  const reg7140::test::CommandLineCase& c = cases[row];
  const std::string line = GetCommandLineA();
  const std::vector<std::string> ours =
      reg7140::test::split_words(line, program).value_or(std::vector<std::string>{"(no room)"});
  const std::vector<std::string> theirs(__argv, __argv + __argc);
  const std::string shown = reg7140::test::show_words({line});
  bool failed = false;
  // Wine hands a program started with an empty line its quoted path instead.
  if (c.line.empty() && line == '"' + program + '"') {
    std::printf("note row %zu: an empty command line reaches the program as %s\n", row + 1,
                shown.c_str());
  } else if (line != c.line) {
    std::printf("FAIL row %zu: started with %s, not %s\n", row + 1, shown.c_str(),
                reg7140::test::show_words({c.line}).c_str());
    failed = true;
  }
  if (ours != c.words) {
    std::printf("FAIL row %zu %s: split into %s, not %s\n", row + 1, shown.c_str(),
                reg7140::test::show_words(ours).c_str(),
                reg7140::test::show_words(c.words).c_str());
    failed = true;
  }
  if (theirs != c.words) {
    std::printf("%s row %zu (%s) %s: the run-time gives %s, the table %s\n",
                c.rule == "same" ? "FAIL" : "note", row + 1, c.rule.c_str(), shown.c_str(),
                reg7140::test::show_words(theirs).c_str(),
                reg7140::test::show_words(c.words).c_str());
    failed |= c.rule == "same";
  }
  return failed ? 1 : 0;
}

int launcher() {
  const std::string program = module_file();
  const auto cases = reg7140::test::command_line_cases(program);
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  SetHandleInformation(out, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  int failed = 0;
  for (std::size_t row = 0; row < cases.size(); ++row) {
    SetEnvironmentVariableA(kRowVariable, std::to_string(row).c_str());
    std::vector<char> line(cases[row].line.begin(), cases[row].line.end());
    line.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION started{};
    std::fflush(stdout);
    DWORD status = 3;
    if (!CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &started)) {
      std::printf("FAIL row %zu: CreateProcessA failed with %lu\n", row + 1, GetLastError());
    } else {
      WaitForSingleObject(started.hProcess, INFINITE);
      GetExitCodeProcess(started.hProcess, &status);
      CloseHandle(started.hProcess);
      CloseHandle(started.hThread);
    }
    failed += status != 0;
  }
  std::printf("%s: %zu command lines, %d failed\n", failed ? "FAILED" : "ok", cases.size(), failed);
  return failed ? 1 : 0;
}

}  // namespace

int main() {
  const char* row = std::getenv(kRowVariable);
  return row ? child(std::strtoul(row, nullptr, 10)) : launcher();
}
