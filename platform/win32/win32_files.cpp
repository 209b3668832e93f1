#include "platform/win32/win32_files.h"

#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/fixed_text.h"
#include "platform/stream_table.h"
#include "platform/text_mode.h"
#include "platform/win32/win32_file_ops.h"

namespace reg7140 {
namespace {

// Files are opened in binary mode and the text mode is done over their bytes: the run-time's own
// text mode tells wrong positions for lines that end in a bare LF (it counts every LF it returned
// as CR LF), and the INF job rewinds to positions it told.
struct Stream {
  std::FILE* file = nullptr;
  bool writing = false;
  bool is_open() const { return file != nullptr; }
  text_mode::ReadState read;
  // Writing: once data is lost, every later write and the close must fail too.
  int write_error = 0;
};

int last_errno() { return errno != 0 ? errno : EIO; }

// The bytes of a stream opened for reading, for the text mode.
class ByteSource {
 public:
  explicit ByteSource(std::FILE* file) : file_(file) {}

  int peek() {
    // A failed read stays failed: the stream's error flag is not cleared.
    if (std::ferror(file_)) return text_mode::kFailed;
    const int c = std::getc(file_);
    if (c == EOF) return std::ferror(file_) ? text_mode::kFailed : text_mode::kAtEnd;
    std::ungetc(c, file_);
    return c;
  }
  void advance() { std::getc(file_); }
  long long offset() { return std::ftell(file_); }
  int error() { return last_errno(); }
  long long read_at(long long offset, std::span<char> chunk) {
    if (std::fseek(file_, static_cast<long>(offset), SEEK_SET) != 0) return -1;
    // getc, not fread: the program imports only what it already needs from the run-time.
    std::size_t n = 0;
    while (n < chunk.size()) {
      const int c = std::getc(file_);
      if (c == EOF) break;
      chunk[n++] = static_cast<char>(c);
    }
    if (n == 0 && std::ferror(file_)) return -1;
    return static_cast<long long>(n);
  }

 private:
  std::FILE* file_;
};

// The bytes of a stream opened for writing.
class ByteSink {
 public:
  explicit ByteSink(Stream& stream) : stream_(stream) {}

  int put(std::string_view bytes) {
    if (bytes.empty()) return 0;
    errno = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), stream_.file) != bytes.size()) {
      stream_.write_error = last_errno();
    }
    return stream_.write_error;
  }

 private:
  Stream& stream_;
};

// 0, or why `path` cannot be handed to the run-time: one with a NUL inside would name another
// file.
int to_c_path(std::string_view path, PathText* out) {
  if (path.empty() || path.find('\0') != std::string_view::npos) return EINVAL;
  return out->assign(path) ? 0 : ENAMETOOLONG;
}

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
  StreamTable<Stream> streams;

  Stream* stream(FileHandle file) { return streams.find(file); }
};

Win32Files::Win32Files() : state_(std::make_unique<State>()) {
  state_->own_ops = std::make_unique<Win32FileSystemOps>();
  state_->ops = state_->own_ops.get();
}

Win32Files::Win32Files(FileSystemOps& ops) : state_(std::make_unique<State>()) {
  state_->ops = &ops;
}

Win32Files::~Win32Files() {
  for (FileHandle i = 0; i < StreamTable<Stream>::kSlots; ++i) close(i);
}

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

int Win32Files::open_text(std::string_view path, OpenMode mode, FileHandle* file) {
  *file = kNoFile;
  const FileHandle slot = state_->streams.free_slot();
  if (slot == kNoFile) return EMFILE;
  PathText c_path;
  if (const int error = to_c_path(path, &c_path); error != 0) return error;

  // "w" refuses a read-only file before it truncates anything.
  errno = 0;
  std::FILE* opened = std::fopen(c_path.c_str(), mode == OpenMode::kReadText ? "rb" : "wb");
  if (opened == nullptr) return last_errno();

  Stream& s = state_->streams[slot];
  s = Stream{};
  s.file = opened;
  s.writing = mode == OpenMode::kWriteText;
  *file = slot;
  return 0;
}

LineResult Win32Files::read_line(FileHandle file, std::span<char> buffer) {
  Stream* s = state_->stream(file);
  if (s == nullptr || s->writing) return {LineStatus::kError, 0, EBADF};
  errno = 0;
  ByteSource source(s->file);
  return text_mode::read_line(source, s->read, buffer);
}

int Win32Files::write(FileHandle file, std::string_view text) {
  Stream* s = state_->stream(file);
  if (s == nullptr || !s->writing) return EBADF;
  if (s->write_error != 0) return s->write_error;
  ByteSink sink(*s);
  return text_mode::write(sink, text);
}

int Win32Files::tell(FileHandle file, long* position) {
  Stream* s = state_->stream(file);
  if (s == nullptr) return EBADF;
  errno = 0;
  const long offset = std::ftell(s->file);
  if (offset < 0) return last_errno();
  *position = offset;
  return 0;
}

int Win32Files::seek(FileHandle file, long position) {
  Stream* s = state_->stream(file);
  if (s == nullptr) return EBADF;
  if (position < 0) return EINVAL;
  if (s->write_error != 0) return s->write_error;
  errno = 0;
  if (std::fseek(s->file, position, SEEK_SET) != 0) {
    const int error = last_errno();
    // A write stream flushes before it moves; what it could not write is lost.
    if (s->writing) s->write_error = error;
    return error;
  }
  s->read = {};
  return 0;
}

bool Win32Files::ended_cleanly(FileHandle file) {
  Stream* s = state_->stream(file);
  if (s == nullptr || s->writing) return false;
  ByteSource source(s->file);
  const bool clean = text_mode::ended_cleanly(source, s->read);
  if (s->read.end == text_mode::End::kCtrlZ) {
    // The look past the mark leaves the stream where the text ended.
    std::clearerr(s->file);
    std::fseek(s->file, static_cast<long>(s->read.ctrl_z_offset), SEEK_SET);
  }
  return clean;
}

int Win32Files::close(FileHandle file) {
  Stream* s = state_->stream(file);
  if (s == nullptr) return EBADF;
  errno = 0;
  int error = std::fclose(s->file) != 0 ? last_errno() : 0;
  if (s->write_error != 0) error = s->write_error;
  s->file = nullptr;
  return error;
}

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
