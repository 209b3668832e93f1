// The open text files of the INF job over a system's raw files: one 64 KB buffer per file, the
// Windows C run-time's text mode over its bytes (platform/text_mode.h), positions as stored byte
// offsets, and a write error that sticks. Each platform's TextFiles passes its text calls here.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string_view>

#include "platform/raw_file.h"
#include "platform/stream_table.h"
#include "platform/text_files.h"
#include "platform/text_mode.h"

namespace reg7140 {

// One open file. Reading: `filled` bytes from offset `base` are buffered and `next` is the first
// not yet taken. Writing: `filled` bytes wait to be stored at `base`.
struct FileStream {
  bool is_open() const { return open; }

  bool open = false;
  bool writing = false;
  RawHandle raw = 0;
  // FileStreams::kBufferSize bytes while the file is open; only the part in use is ever touched.
  std::unique_ptr<char[]> buffer;
  long long base = 0;
  std::size_t next = 0;
  std::size_t filled = 0;
  int read_error = 0;
  // A failed flush loses data, so every later write, seek and the close fail too.
  int write_error = 0;
  text_mode::ReadState read;
};

class FileStreams {
 public:
  // Bytes each open file buffers, so that a large INF file takes few system calls; a CR LF pair
  // may straddle two fills.
  static constexpr std::size_t kBufferSize = 1 << 16;

  // `raw` must outlive this object.
  explicit FileStreams(RawFiles& raw) : raw_(raw) {}
  FileStreams(const FileStreams&) = delete;
  FileStreams& operator=(const FileStreams&) = delete;
  // Flushes and closes the files still open.
  ~FileStreams();

  // As TextFiles has them.
  int open(std::string_view path, OpenMode mode, FileHandle* file);
  LineResult read_line(FileHandle file, std::span<char> buffer);
  int write(FileHandle file, std::string_view text);
  int tell(FileHandle file, long* position);
  int seek(FileHandle file, long position);
  bool ended_cleanly(FileHandle file);
  int close(FileHandle file);

 private:
  int flush(FileStream& s);

  RawFiles& raw_;
  StreamTable<FileStream> streams_;
};

}  // namespace reg7140
