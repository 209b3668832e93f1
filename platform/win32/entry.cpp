// The program's entry point: what a C run-time's start-up would do, on KERNEL32 alone. The
// argument list comes from the command line by the splitting rules of the run-time of Windows
// 95's time, and main's result is the exit status.
#include <windows.h>

#include <array>
#include <cstddef>

#include "platform/command_line.h"
#include "platform/fixed_text.h"

// The program's main, reached under its own name without calling ::main from C++ code.
extern "C" int program_main(int argc, char** argv) __asm__("_main");

namespace {

// The words and their text live as long as the process: main may keep pointers into them.
char** split_arguments(int* argc) {
  const char* const line = GetCommandLineA();
  std::string_view line_text = line != nullptr ? std::string_view(line) : std::string_view();
  reg7140::PathText program;
  if (line_text.empty()) {
    std::array<char, reg7140::kMaxPath> path{};
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), reg7140::kMaxPath);
    if (length > 0 && length < reg7140::kMaxPath)
      program.assign(std::string_view(path.data(), length));
  }
  const reg7140::CommandLineRoom room =
      reg7140::command_line_room(line_text.size(), program.size());
  char* const text = new char[room.text];
  char** const words = new char*[room.words];
  *argc = reg7140::split_command_line(line_text, program.view(), {text, room.text},
                                      {words, room.words});
  // The room is the splitter's own measure; should it still fall short, no argument is better
  // than a part of one.
  if (*argc < 0) {
    *argc = 0;
    words[0] = nullptr;
  }
  return words;
}

}  // namespace

extern "C" [[noreturn]] void __stdcall program_entry() {
  int argc = 0;
  char** const argv = split_arguments(&argc);
  ExitProcess(static_cast<UINT>(program_main(argc, argv)));
}
