#include "platform/win32/win32_file_ops.h"

#include <cerrno>

#include "platform/win32/win32_environment.h"
#include "platform/windows_errors.h"

namespace reg7140 {

int windows_errno() {
  // A failure that tells no reason is still a failure.
  const DWORD error = GetLastError();
  return errno_from_windows_error(static_cast<WinError>(error != 0 ? error : ERROR_GEN_FAILURE));
}

bool find_file(const char* path, WIN32_FIND_DATAA* found) {
  for (const char* at = path; *at != '\0'; ++at) {
    if (*at == '*' || *at == '?') return false;
  }
  const HANDLE search = FindFirstFileA(path, found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

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
  return MoveFileA(from, to) ? 0 : windows_errno();
}

int Win32FileSystemOps::remove(const char* path) { return DeleteFileA(path) ? 0 : windows_errno(); }

bool Win32FileSystemOps::file_size(const char* path, std::int64_t* size) {
  WIN32_FIND_DATAA found;
  if (!find_file(path, &found)) return false;
  *size = static_cast<std::int64_t>((static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) |
                                    found.nFileSizeLow);
  return true;
}

void Win32FileSystemOps::flush(const char* path) {
  const HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  FlushFileBuffers(file);
  CloseHandle(file);
}

const char* Win32FileSystemOps::command_interpreter() {
  interpreter_ = read_environment("COMSPEC");
  return interpreter_.get();
}

bool Win32FileSystemOps::run_program(const char* program, char* line) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(program, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return false;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

}  // namespace reg7140
