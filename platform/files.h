// File operations of the INF job and the driver job. Paths are Windows paths as the jobs build
// them (the Windows directory, then a relative path with backslashes); each platform maps them
// onto its own file system. Results that are an `int` are 0 on success and the C run-time's
// errno otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace reg7140 {

using FileHandle = int;
inline constexpr FileHandle kNoFile = -1;

enum class OpenMode {
  kReadText,   // an existing file, read in text mode
  kWriteText,  // created or truncated, written in text mode
};

enum class AccessMode { kWrite, kReadWrite };

enum class LineStatus { kLine, kEndOfFile, kError };

struct LineResult {
  LineStatus status = LineStatus::kError;
  std::size_t length = 0;  // characters stored, NUL bytes of the line included
  int error = 0;           // errno with kError
};

class Files {
 public:
  virtual ~Files() = default;

  // True when the file exists and its mode allows the access (the read-only attribute counts,
  // not who runs the program).
  virtual bool access(std::string_view path, AccessMode mode) = 0;
  // Clears the read-only attribute and keeps every other one; the result is not checked.
  virtual void make_writable(std::string_view path) = 0;

  // Text mode as the Windows C run-time has it: CR LF reads as LF, a lone CR stays, a byte 0x1A
  // ends the text; every LF written becomes CR LF. Positions are byte offsets as stored.
  virtual int open_text(std::string_view path, OpenMode mode, FileHandle* file) = 0;
  // Reads like fgets with a limit of `buffer.size()`: at most buffer.size() - 1 characters, up to
  // and including a line feed, followed by a terminating NUL.
  virtual LineResult read_line(FileHandle file, std::span<char> buffer) = 0;
  // Writes every byte of `text`; fails when fewer were written.
  virtual int write(FileHandle file, std::string_view text) = 0;
  virtual int tell(FileHandle file, long* position) = 0;
  virtual int seek(FileHandle file, long position) = 0;
  // After kEndOfFile: true when the text ran to the physical end of the file, or when nothing
  // but 0x1A bytes follows the first 0x1A.
  virtual bool ended_cleanly(FileHandle file) = 0;
  // Flushes and closes; reports a write error that surfaces only now.
  virtual int close(FileHandle file) = 0;
  // Puts `from` in the place of `to` at once: `to` holds its old or its new content, never
  // nothing.
  virtual int replace_file(std::string_view from, std::string_view to) = 0;

  // Last-write time in whole seconds since 1970; false when the file does not exist.
  virtual bool file_time(std::string_view path, std::int64_t* seconds) = 0;
  // Copies `from` over `to` so that `to` is the old or the new file, never a torn one, and keeps
  // the source's last-write time.
  virtual int copy_file(std::string_view from, std::string_view to) = 0;

  // Full path of the running program file (for a program found through the search path).
  virtual std::string_view program_file() = 0;
};

}  // namespace reg7140
