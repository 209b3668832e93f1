// On KERNEL32 alone, as Windows 95 has it: ANSI calls, each result checked, every error told
// through the C run-time's one mapping onto errno. Windows 95 takes no offset in an OVERLAPPED
// for a disk file, so each read and write first moves the file pointer.
#include "platform/win32/win32_raw_file.h"

#include <windows.h>

#include <cerrno>

#include "platform/win32/win32_file_ops.h"
#include "platform/windows_errors.h"

namespace reg7140 {
namespace {

HANDLE handle_of(RawHandle file) { return reinterpret_cast<HANDLE>(file); }

int move_to(HANDLE file, long long offset) {
  LONG high = static_cast<LONG>(offset >> 32);
  const DWORD low = SetFilePointer(file, static_cast<LONG>(offset & 0xFFFFFFFF), &high, FILE_BEGIN);
  // With a high part, 0xFFFFFFFF is also a valid low part; only the error code tells.
  if (low == INVALID_SET_FILE_POINTER) {
    const DWORD error = GetLastError();
    if (error != NO_ERROR) return errno_from_windows_error(static_cast<WinError>(error));
  }
  return 0;
}

// The most one ReadFile or WriteFile takes here; the stream's buffers are far smaller.
DWORD chunk_size(std::size_t size) {
  constexpr std::size_t kMost = 0x7FFFFFFF;
  return static_cast<DWORD>(size < kMost ? size : kMost);
}

}  // namespace

int to_c_path(std::string_view path, PathText* out) {
  if (path.empty() || path.find('\0') != std::string_view::npos) return EINVAL;
  return out->assign(path) ? 0 : ENAMETOOLONG;
}

int Win32RawFiles::open(std::string_view path, OpenMode mode, RawHandle* file) {
  PathText c_path;
  if (const int error = to_c_path(path, &c_path); error != 0) return error;
  // Opened as the C run-time opens them. A directory is refused with ERROR_ACCESS_DENIED, and
  // so, before it is truncated, is a read-only file opened for writing.
  const bool reading = mode == OpenMode::kReadText;
  const HANDLE opened = CreateFileA(
      c_path.c_str(), reading ? GENERIC_READ : GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
      nullptr, reading ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return windows_errno();
  *file = reinterpret_cast<RawHandle>(opened);
  return 0;
}

int Win32RawFiles::read_at(RawHandle file, long long offset, std::span<char> into,
                           std::size_t* count) {
  if (const int error = move_to(handle_of(file), offset); error != 0) return error;
  DWORD read = 0;
  if (!ReadFile(handle_of(file), into.data(), chunk_size(into.size()), &read, nullptr)) {
    return windows_errno();
  }
  *count = read;
  return 0;
}

int Win32RawFiles::write_at(RawHandle file, long long offset, std::string_view bytes,
                            std::size_t* count) {
  if (const int error = move_to(handle_of(file), offset); error != 0) return error;
  DWORD written = 0;
  if (!WriteFile(handle_of(file), bytes.data(), chunk_size(bytes.size()), &written, nullptr)) {
    return windows_errno();
  }
  *count = written;
  return 0;
}

int Win32RawFiles::flush(RawHandle file) {
  return FlushFileBuffers(handle_of(file)) ? 0 : windows_errno();
}

int Win32RawFiles::size(RawHandle file, long long* bytes) {
  DWORD high = 0;
  const DWORD low = GetFileSize(handle_of(file), &high);
  if (low == INVALID_FILE_SIZE) {
    const DWORD error = GetLastError();
    if (error != NO_ERROR) return errno_from_windows_error(static_cast<WinError>(error));
  }
  *bytes = (static_cast<long long>(high) << 32) | low;
  return 0;
}

int Win32RawFiles::close(RawHandle file) {
  return CloseHandle(handle_of(file)) ? 0 : windows_errno();
}

}  // namespace reg7140
