// File operations of the running Windows: text files over KERNEL32 (platform/file_streams.h),
// the others over the Microsoft C run-time.
#pragma once

#include <memory>

#include "platform/file_store.h"
#include "platform/safe_replace.h"
#include "platform/text_files.h"
#include "platform/win32/win32_file_ops.h"

namespace reg7140 {

class Win32Files : public TextFiles, public FileStore {
 public:
  // Replaces and copies files with the system's own operations.
  Win32Files();
  // Replaces and copies files through `ops`, which must outlive this object.
  explicit Win32Files(FileSystemOps& ops);
  ~Win32Files() override;

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
