// Sections of this file:
//   1. Open files: their buffers, bytes in and bytes out
//   2. Attributes and opening
//   3. Text: lines, positions, closing
//   4. Whole files: replacing, times, copying
#include "platform/posix/posix_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "platform/posix/durable_file.h"
#include "platform/posix/host_path.h"
#include "platform/posix/raw_io.h"
#include "platform/stream_table.h"
#include "platform/text_mode.h"

namespace reg7140 {
namespace {

// ---- 1. Open files: their buffers, bytes in and bytes out ----------------------------------------

// The Windows run-time's text mode is done over the raw bytes (platform/text_mode.h).
struct Stream {
  int fd = -1;
  bool writing = false;
  bool is_open() const { return fd >= 0; }
  // PosixFiles::kBufferSize bytes while the file is open; only the part in use is ever touched.
  std::unique_ptr<char[]> buffer;
  // File offset of buffer[0]. Reading: `filled` bytes are buffered and `next` is the first not
  // yet consumed. Writing: `filled` bytes wait to be written at `base`.
  long long base = 0;
  std::size_t next = 0;
  std::size_t filled = 0;
  int read_error = 0;
  // Writing: a failed flush loses data, so every later write and the close must fail too.
  int write_error = 0;
  text_mode::ReadState read;
};

// The bytes of a stream opened for reading, for the text mode.
class ByteSource {
 public:
  explicit ByteSource(Stream& stream) : s_(stream) {}

  // The next stored byte, not taken; refills the buffer once it is used up.
  int peek() {
    if (s_.next == s_.filled) {
      s_.base += static_cast<long long>(s_.filled);
      s_.next = 0;
      s_.filled = 0;
      ssize_t n = read_retrying(s_.fd, s_.buffer.get(), PosixFiles::kBufferSize);
      if (n < 0) {
        s_.read_error = errno;
        return text_mode::kFailed;
      }
      if (n == 0) return text_mode::kAtEnd;
      s_.filled = static_cast<std::size_t>(n);
    }
    return static_cast<unsigned char>(s_.buffer[s_.next]);
  }
  void advance() { ++s_.next; }
  std::string_view buffered() { return {s_.buffer.get() + s_.next, s_.filled - s_.next}; }
  void skip(std::size_t count) { s_.next += count; }
  long long offset() { return s_.base + static_cast<long long>(s_.next); }
  int error() { return s_.read_error; }
  long long read_at(long long offset, std::span<char> chunk) {
    for (;;) {
      ssize_t n = ::pread(s_.fd, chunk.data(), chunk.size(), static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      return n;
    }
  }

 private:
  Stream& s_;
};

int flush(Stream& s) {
  if (s.write_error != 0) return s.write_error;
  std::size_t written = 0;
  int error = write_all(s.fd, std::string_view(s.buffer.get(), s.filled), &written);
  s.base += static_cast<long long>(written);
  s.filled = 0;
  s.write_error = error;
  return error;
}

// The bytes of a stream opened for writing, buffered.
class ByteSink {
 public:
  explicit ByteSink(Stream& stream) : s_(stream) {}

  std::span<char> room() {
    return {s_.buffer.get() + s_.filled, PosixFiles::kBufferSize - s_.filled};
  }
  void fill(std::size_t count) { s_.filled += count; }

  int put(std::string_view bytes) {
    while (!bytes.empty()) {
      if (s_.filled == PosixFiles::kBufferSize) {
        if (int error = flush(s_); error != 0) return error;
      }
      const std::size_t n = std::min(bytes.size(), PosixFiles::kBufferSize - s_.filled);
      std::copy_n(bytes.data(), n, s_.buffer.get() + s_.filled);
      s_.filled += n;
      bytes.remove_prefix(n);
    }
    return 0;
  }

 private:
  Stream& s_;
};

}  // namespace

struct PosixFiles::State {
  StreamTable<Stream> streams;

  Stream* stream(FileHandle file) { return streams.find(file); }
};

PosixFiles::PosixFiles() : state_(std::make_unique<State>()) {}

PosixFiles::~PosixFiles() {
  for (FileHandle i = 0; i < StreamTable<Stream>::kSlots; ++i) close(i);
}

// ---- 2. Attributes and opening ------------------------------------------------------------------

bool PosixFiles::access(std::string_view path, AccessMode mode) {
  // The owner's bits stand for the read-only attribute: root would pass access(2) for any file.
  struct stat status;
  if (::stat(to_host_path(path).c_str(), &status) != 0) return false;
  mode_t needed = mode == AccessMode::kReadWrite ? (S_IRUSR | S_IWUSR) : S_IWUSR;
  return (status.st_mode & needed) == needed;
}

void PosixFiles::make_writable(std::string_view path) {
  std::string host = to_host_path(path);
  struct stat status;
  if (::stat(host.c_str(), &status) != 0) return;
  ::chmod(host.c_str(), (status.st_mode & 07777) | S_IRUSR | S_IWUSR);
}

int PosixFiles::open_text(std::string_view path, OpenMode mode, FileHandle* file) {
  *file = kNoFile;
  const FileHandle slot = state_->streams.free_slot();
  if (slot == kNoFile) return EMFILE;

  std::string host = to_host_path(path);
  int fd = -1;
  if (mode == OpenMode::kReadText) {
    fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    struct stat status;
    int error = 0;
    if (::fstat(fd, &status) != 0) {
      error = errno;
    } else if (S_ISDIR(status.st_mode)) {
      // The Windows run-time refuses to open a directory as a file, with EACCES.
      error = EACCES;
    }
    if (error != 0) {
      ::close(fd);
      return error;
    }
  } else {
    // An existing file is checked before it is truncated: a read-only one must keep its content.
    fd = ::open(host.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
      fd = ::open(host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd < 0) return errno;
    } else {
      if (fd < 0) return errno;
      struct stat status;
      int error = 0;
      if (::fstat(fd, &status) != 0) {
        error = errno;
      } else if ((status.st_mode & S_IWUSR) == 0) {
        error = EACCES;
      } else if (S_ISREG(status.st_mode) && ::ftruncate(fd, 0) != 0) {
        error = errno;
      }
      if (error != 0) {
        ::close(fd);
        return error;
      }
    }
  }

  Stream& s = state_->streams[slot];
  s = Stream{};
  s.buffer.reset(new char[kBufferSize]);
  s.fd = fd;
  s.writing = mode == OpenMode::kWriteText;
  *file = slot;
  return 0;
}

// ---- 3. Text: lines, positions, closing ---------------------------------------------------------

LineResult PosixFiles::read_line(FileHandle file, std::span<char> buffer) {
  Stream* s = state_->stream(file);
  if (s == nullptr || s->writing) return {LineStatus::kError, 0, EBADF};
  ByteSource source(*s);
  return text_mode::read_line(source, s->read, buffer);
}

int PosixFiles::write(FileHandle file, std::string_view text) {
  Stream* s = state_->stream(file);
  if (s == nullptr || !s->writing) return EBADF;
  if (s->write_error != 0) return s->write_error;
  ByteSink sink(*s);
  return text_mode::write(sink, text);
}

int PosixFiles::tell(FileHandle file, long* position) {
  Stream* s = state_->stream(file);
  if (s == nullptr) return EBADF;
  long long offset = s->base + static_cast<long long>(s->writing ? s->filled : s->next);
  *position = static_cast<long>(offset);
  return 0;
}

int PosixFiles::seek(FileHandle file, long position) {
  Stream* s = state_->stream(file);
  if (s == nullptr) return EBADF;
  if (position < 0) return EINVAL;
  if (s->writing) {
    if (int error = flush(*s); error != 0) return error;
  }
  if (::lseek(s->fd, static_cast<off_t>(position), SEEK_SET) < 0) return errno;
  s->base = position;
  s->next = 0;
  s->filled = 0;
  s->read = {};
  return 0;
}

bool PosixFiles::ended_cleanly(FileHandle file) {
  Stream* s = state_->stream(file);
  if (s == nullptr || s->writing) return false;
  ByteSource source(*s);
  return text_mode::ended_cleanly(source, s->read);
}

int PosixFiles::close(FileHandle file) {
  Stream* s = state_->stream(file);
  if (s == nullptr) return EBADF;
  int error = s->writing ? flush(*s) : 0;
  if (::close(s->fd) != 0 && error == 0) error = errno;
  s->fd = -1;
  return error;
}

// ---- 4. Whole files: replacing, times, copying --------------------------------------------------

int PosixFiles::replace_file(std::string_view from, std::string_view to) {
  std::string host_from;
  std::string host_to;
  // An unreadable directory hides how the files are spelled; guessing could leave the old file
  // in place beside a new one.
  if (int error = to_host_path_for_writing(from, &host_from); error != 0) return error;
  if (int error = to_host_path_for_writing(to, &host_to); error != 0) return error;
  return replace_durably(host_from, host_to);
}

bool PosixFiles::file_time(std::string_view path, std::int64_t* seconds) {
  struct stat status;
  if (::stat(to_host_path(path).c_str(), &status) != 0) return false;
  *seconds = static_cast<std::int64_t>(status.st_mtim.tv_sec);
  return true;
}

int PosixFiles::copy_file(std::string_view from, std::string_view to) {
  std::string host_to;
  if (int error = to_host_path_for_writing(to, &host_to); error != 0) return error;
  const int source = ::open(to_host_path(from).c_str(), O_RDONLY | O_CLOEXEC);
  if (source < 0) return errno;
  const auto copy = [source, &host_to]() -> int {
    struct stat source_status;
    if (::fstat(source, &source_status) != 0) return errno;
    // The destination keeps its mode, with writing allowed.
    mode_t mode = 0644;
    struct stat target_status;
    if (::stat(host_to.c_str(), &target_status) == 0) {
      mode = (target_status.st_mode & 07777) | S_IWUSR;
    } else if (errno != ENOENT) {
      return errno;
    }
    DurableFile target;
    if (const int error = target.create(host_to); error != 0) return error;
    std::array<char, 65536> chunk;
    for (;;) {
      const ssize_t n = read_retrying(source, chunk.data(), chunk.size());
      if (n < 0) return errno;
      if (n == 0) break;
      const int error = target.write(std::string_view(chunk.data(), static_cast<std::size_t>(n)));
      if (error != 0) return error;
    }
    const struct timespec times[2] = {{0, UTIME_NOW}, source_status.st_mtim};
    if (::fchmod(target.fd(), mode) != 0 || ::futimens(target.fd(), times) != 0) return errno;
    return target.commit();
  };
  const int error = copy();
  ::close(source);
  return error;
}

}  // namespace reg7140
