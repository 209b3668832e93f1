#include "platform/win32/win32_files.h"

#include <windows.h>

#include <array>
#include <cerrno>
#include <cstdlib>

#include "platform/file_streams.h"
#include "platform/fixed_text.h"
#include "platform/win32/win32_file_ops.h"
#include "platform/win32/win32_raw_file.h"

namespace reg7140 {
namespace {

// The read-only attribute cleared and every other one kept; the result is not checked.
void clear_read_only(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    SetFileAttributesA(path, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  }
}

// Whole seconds since 1970 of a file time (100 ns units since 1601), fractions dropped; 1601 to
// 1970 is a whole number of seconds, so that dropping them first is the same.
std::int64_t unix_seconds(const FILETIME& time) {
  constexpr std::int64_t kSecondsTo1970 = 11644473600;
  const std::uint64_t ticks =
      (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  return static_cast<std::int64_t>(ticks / 10000000) - kSecondsTo1970;
}

}  // namespace

struct Win32Files::State {
  std::unique_ptr<Win32FileSystemOps> own_ops;
  FileSystemOps* ops = nullptr;
  Win32RawFiles raw;
  FileStreams streams{raw};
};

Win32Files::Win32Files() : state_(std::make_unique<State>()) {
  state_->own_ops = std::make_unique<Win32FileSystemOps>();
  state_->ops = state_->own_ops.get();
}

Win32Files::Win32Files(FileSystemOps& ops) : state_(std::make_unique<State>()) {
  state_->ops = &ops;
}

Win32Files::~Win32Files() = default;

bool Win32Files::access(std::string_view path, AccessMode) {
  // Every file that exists may be read; writing needs the read-only attribute clear.
  PathText c_path;
  if (to_c_path(path, &c_path) != 0) return false;
  const DWORD attributes = GetFileAttributesA(c_path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) == 0;
}

void Win32Files::make_writable(std::string_view path) {
  PathText c_path;
  if (to_c_path(path, &c_path) == 0) clear_read_only(c_path.c_str());
}

// The text files are the shared streams over KERNEL32's files: the run-time's own text mode
// tells wrong positions for lines that end in a bare LF (it counts every LF it returned as
// CR LF), and the INF job rewinds to positions it told.
int Win32Files::open_text(std::string_view path, OpenMode mode, FileHandle* file) {
  return state_->streams.open(path, mode, file);
}

LineResult Win32Files::read_line(FileHandle file, std::span<char> buffer) {
  return state_->streams.read_line(file, buffer);
}

int Win32Files::write(FileHandle file, std::string_view text) {
  return state_->streams.write(file, text);
}

int Win32Files::tell(FileHandle file, long* position) {
  return state_->streams.tell(file, position);
}

int Win32Files::seek(FileHandle file, long position) {
  return state_->streams.seek(file, position);
}

bool Win32Files::ended_cleanly(FileHandle file) { return state_->streams.ended_cleanly(file); }

int Win32Files::close(FileHandle file) { return state_->streams.close(file); }

int Win32Files::replace_file(std::string_view from, std::string_view to) {
  PathText c_from;
  PathText c_to;
  if (const int error = to_c_path(from, &c_from); error != 0) return error;
  if (const int error = to_c_path(to, &c_to); error != 0) return error;
  return replace_file_via(*state_->ops, c_from.view(), c_to.view());
}

bool Win32Files::file_time(std::string_view path, std::int64_t* seconds) {
  PathText c_path;
  if (to_c_path(path, &c_path) != 0) return false;
  WIN32_FIND_DATAA found;
  if (!find_file(c_path.c_str(), &found)) return false;
  *seconds = unix_seconds(found.ftLastWriteTime);
  return true;
}

int Win32Files::copy_file(std::string_view from, std::string_view to) {
  PathText c_from;
  PathText c_to;
  if (const int error = to_c_path(from, &c_from); error != 0) return error;
  if (const int error = to_c_path(to, &c_to); error != 0) return error;
  const int error = copy_file_via_interpreter(*state_->ops, c_from.view(), c_to.view());
  // The copy of the NT family's interpreter carries the source's attributes over, so a driver
  // from a write-protected disk would be installed read-only, unlike the copy of Windows 95.
  if (error == 0) clear_read_only(c_to.c_str());
  return error;
}

}  // namespace reg7140
