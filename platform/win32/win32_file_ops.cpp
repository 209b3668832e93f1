#include "platform/win32/win32_file_ops.h"

#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace reg7140 {
namespace {

int last_errno() { return errno != 0 ? errno : EIO; }

}  // namespace

Win32FileSystemOps::Win32FileSystemOps() {
  if (HMODULE kernel = GetModuleHandleA("KERNEL32.DLL"); kernel != nullptr) {
    move_file_ex_ = reinterpret_cast<void (*)()>(GetProcAddress(kernel, "MoveFileExA"));
  }
}

WinError Win32FileSystemOps::move_replacing(const char* from, const char* to) {
  if (move_file_ex_ == nullptr) return ERROR_CALL_NOT_IMPLEMENTED;
  const auto move_file_ex = reinterpret_cast<decltype(&MoveFileExA)>(move_file_ex_);
  if (move_file_ex(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return 0;
  }
  const DWORD error = GetLastError();
  return static_cast<WinError>(error != 0 ? error : ERROR_GEN_FAILURE);
}

int Win32FileSystemOps::rename(const char* from, const char* to) {
  errno = 0;
  return std::rename(from, to) == 0 ? 0 : last_errno();
}

int Win32FileSystemOps::remove(const char* path) {
  errno = 0;
  return std::remove(path) == 0 ? 0 : last_errno();
}

bool Win32FileSystemOps::file_size(const char* path, std::int64_t* size) {
  struct _stat status;
  if (_stat(path, &status) != 0) return false;
  *size = static_cast<std::int64_t>(status.st_size);
  return true;
}

void Win32FileSystemOps::flush(const char* path) {
  const HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  FlushFileBuffers(file);
  CloseHandle(file);
}

void Win32FileSystemOps::run_command(const char* command) {
  // The interpreter that COMSPEC names; its result says nothing about the copy on Windows 95.
  std::system(command);
}

}  // namespace reg7140
