// File operations of the running Windows, over the Microsoft C run-time.
#pragma once

#include <memory>

#include "platform/file_store.h"
#include "platform/text_files.h"
#include "platform/safe_replace.h"

namespace reg7140 {

// The primitive operations that replacing and copying are built on.
class Win32FileSystemOps : public FileSystemOps {
 public:
  Win32FileSystemOps();

  // The error of MoveFileExA; ERROR_CALL_NOT_IMPLEMENTED where the system lacks it (Windows 95
  // answers so).
  WinError move_replacing(const char* from, const char* to) override;
  int rename(const char* from, const char* to) override;
  int remove(const char* path) override;
  bool file_size(const char* path, std::int64_t* size) override;
  void flush(const char* path) override;
  void run_command(const char* command) override;

 private:
  // Looked up at run time: a program that imported it could not even be loaded by a system
  // without it.
  void (*move_file_ex_)() = nullptr;
};

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
