// The process command line split into the argument list, as the C run-time of Windows 95's time
// split it, for a start-up that links no run-time. No allocation: the words go into the
// caller's buffers.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace reg7140 {

// Room for the split of a line: characters for the words with their NULs, and pointer slots
// for the words and the closing nullptr. Every word but the last is paid for by the blank or
// quote that ends it; after argument 0, a word takes at least one character and one blank.
struct CommandLineRoom {
  std::size_t text;
  std::size_t words;
};
constexpr CommandLineRoom command_line_room(std::size_t line_length, std::size_t program_length) {
  return {(line_length > program_length ? line_length : program_length) + 1, line_length / 2 + 2};
}

// Splits `line` into words as the C run-time of Windows 95's time did; the words are stored
// NUL-terminated in `text`, `words` receives pointers to them and a closing nullptr; returns the
// count (argc). With an empty line, argument 0 is `program_file`. Returns -1, with the buffers'
// contents unspecified, when they are smaller than the split needs; `command_line_room` is
// always enough.
int split_command_line(std::string_view line, std::string_view program_file, std::span<char> text,
                       std::span<char*> words);

}  // namespace reg7140
