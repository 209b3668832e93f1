#include "platform/posix/posix_raw_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/posix/host_path.h"

namespace reg7140 {
namespace {

int fd_of(RawHandle file) { return static_cast<int>(file); }

// 0, or why the file just opened as `fd` must not be used; it is then closed.
int refuse_unless(int fd, OpenMode mode) {
  struct stat status;
  int error = 0;
  if (::fstat(fd, &status) != 0) {
    error = errno;
  } else if (mode == OpenMode::kReadText) {
    // The Windows run-time refuses to open a directory as a file, with EACCES.
    if (S_ISDIR(status.st_mode)) error = EACCES;
  } else if ((status.st_mode & S_IWUSR) == 0) {
    // The owner's write bit is the read-only attribute, for root too.
    error = EACCES;
  } else if (S_ISREG(status.st_mode) && ::ftruncate(fd, 0) != 0) {
    error = errno;
  }
  if (error != 0) ::close(fd);
  return error;
}

}  // namespace

int PosixRawFiles::open(std::string_view path, OpenMode mode, RawHandle* file) {
  const std::string host = to_host_path(path);
  int fd = -1;
  if (mode == OpenMode::kReadText) {
    fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
  } else {
    // An existing file is checked before it is truncated: a read-only one must keep its content.
    fd = ::open(host.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
      fd = ::open(host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd < 0) return errno;
      *file = fd;
      return 0;
    }
  }
  if (fd < 0) return errno;
  if (const int error = refuse_unless(fd, mode); error != 0) return error;
  *file = fd;
  return 0;
}

int PosixRawFiles::read_at(RawHandle file, long long offset, std::span<char> into,
                           std::size_t* count) {
  ssize_t n;
  do {
    n = ::pread(fd_of(file), into.data(), into.size(), static_cast<off_t>(offset));
  } while (n < 0 && errno == EINTR);
  if (n < 0) return errno;
  *count = static_cast<std::size_t>(n);
  return 0;
}

int PosixRawFiles::write_at(RawHandle file, long long offset, std::string_view bytes,
                            std::size_t* count) {
  ssize_t n;
  do {
    n = ::pwrite(fd_of(file), bytes.data(), bytes.size(), static_cast<off_t>(offset));
  } while (n < 0 && errno == EINTR);
  if (n < 0) return errno;
  *count = static_cast<std::size_t>(n);
  return 0;
}

int PosixRawFiles::flush(RawHandle file) { return ::fsync(fd_of(file)) != 0 ? errno : 0; }

int PosixRawFiles::size(RawHandle file, long long* bytes) {
  struct stat status;
  if (::fstat(fd_of(file), &status) != 0) return errno;
  *bytes = static_cast<long long>(status.st_size);
  return 0;
}

int PosixRawFiles::close(RawHandle file) { return ::close(fd_of(file)) != 0 ? errno : 0; }

}  // namespace reg7140
