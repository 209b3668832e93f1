// The primitive file operations of the running Windows, on KERNEL32 alone, that replacing and
// copying are built on; errors are the C run-time's errno for the Windows error.
#pragma once

#include <windows.h>

#include <memory>

#include "platform/safe_replace.h"

namespace reg7140 {

// The errno for the calling thread's last Windows error.
int windows_errno();

// What FindFirstFileA tells of the one file `path` names, as the run-time's _stat reads it:
// false when there is none, and for a name with a wildcard, which would match others.
bool find_file(const char* path, WIN32_FIND_DATAA* found);

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
  const char* command_interpreter() override;
  bool run_program(const char* program, char* line) override;

 private:
  // Looked up at run time: a program that imported it could not even be loaded by a system
  // without it.
  void (*move_file_ex_)() = nullptr;
  std::unique_ptr<char[]> interpreter_;
};

}  // namespace reg7140
