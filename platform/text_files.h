// The text files of the INF job: read and written line by line in the Windows C run-time's text
// mode, with positions to return to, and one file put in another's place. Paths are Windows paths
// as the job builds them (the Windows directory, then a relative path with backslashes); each
// platform maps them onto its own file system. Results that are an `int` are 0 on success and the
// C run-time's errno otherwise.
#pragma once

#include <cstddef>
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

class TextFiles {
 public:
  virtual ~TextFiles() = default;

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
};

}  // namespace reg7140
