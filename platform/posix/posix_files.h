// File operations on the host; the text files are the shared streams over raw I/O.
#pragma once

#include <cstddef>
#include <memory>

#include "platform/file_store.h"
#include "platform/file_streams.h"
#include "platform/text_files.h"

namespace reg7140 {

class PosixFiles : public TextFiles, public FileStore {
 public:
  // Bytes each open file buffers (platform/file_streams.h).
  static constexpr std::size_t kBufferSize = FileStreams::kBufferSize;

  PosixFiles();
  ~PosixFiles() override;

  bool access(std::string_view path, AccessMode mode) override;
  void make_writable(std::string_view path) override;
  int open_text(std::string_view path, OpenMode mode, FileHandle* file) override;
  LineResult read_line(FileHandle file, std::span<char> buffer) override;
  int write(FileHandle file, std::string_view text) override;
  int tell(FileHandle file, long* position) override;
  int seek(FileHandle file, long position) override;
  bool ended_cleanly(FileHandle file) override;
  int close(FileHandle file) override;
  int replace_file(std::string_view from, std::string_view to) override;
  bool file_time(std::string_view path, std::int64_t* seconds) override;
  int copy_file(std::string_view from, std::string_view to) override;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace reg7140
