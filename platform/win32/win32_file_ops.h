// The primitive file operations of the running Windows that replacing and copying are built on.
#pragma once

#include "platform/safe_replace.h"

namespace reg7140 {

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

}  // namespace reg7140
