// Replacing and copying files the Windows way, written against a handful of primitive file
// operations so that the steps (and their failure paths) can run against a stand-in file system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/fixed_text.h"
#include "platform/windows_errors.h"

namespace reg7140 {

// The command interpreter of Windows 95 takes at most 126 characters after its own name; the
// command goes after " /c ". A longer line would be cut short and could name another file.
inline constexpr std::size_t kMaxCommandLength = 122;

class FileSystemOps {
 public:
  virtual ~FileSystemOps() = default;

  // MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING): 0, or the Windows error code.
  virtual WinError move_replacing(const char* from, const char* to) = 0;
  // rename() of the C run-time: 0 or errno; fails when `to` exists.
  virtual int rename(const char* from, const char* to) = 0;
  // remove() of the C run-time: 0 or errno.
  virtual int remove(const char* path) = 0;
  // True when `path` exists; `size` then receives its length in bytes.
  virtual bool file_size(const char* path, std::int64_t* size) = 0;
  // Hands what the system still holds of the file to the disk. Best effort: a file that cannot
  // be flushed is replaced all the same.
  virtual void flush(const char* path) = 0;
  // The program that the environment variable COMSPEC names; nullptr when it is not set.
  virtual const char* command_interpreter() = 0;
  // Starts `program` with the command line `line`, which the system may change, and waits for
  // it to end; with `program` nullptr, the line's first word found along the search path. False
  // when it cannot be started.
  virtual bool run_program(const char* program, char* line) = 0;
};

// A name beside `path` in the same directory: its base name cut to 8 characters, with any dot
// in it made an underscore, then '.', `tag` and `number` as two digits
// ("C:\WINDOWS\inf\netzor.inf", 'b', 3 -> "C:\WINDOWS\inf\netzor.b03"). False when it does not fit.
bool sibling_name(std::string_view path, char tag, int number, PathText* name);

// Runs `command` through the command interpreter, started with "/c" and the command: the
// program COMSPEC names, or, when it is not set or cannot be started, cmd.exe along the search
// path. False when neither could be started.
bool run_in_interpreter(FileSystemOps& ops, std::string_view command);

// Puts `from` in the place of `to`. 0 or errno.
int replace_file_via(FileSystemOps& ops, std::string_view from, std::string_view to);

// Copies `from` over `to` with the command interpreter's copy, into a scratch file beside `to`
// that then replaces `to`. On failure `to` is left as it was. 0 or errno.
int copy_file_via_interpreter(FileSystemOps& ops, std::string_view from, std::string_view to);

}  // namespace reg7140
