#include "platform/posix/durable_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace reg7140 {

namespace {

std::string directory_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

DurableFile::~DurableFile() { discard(); }

void DurableFile::discard() {
  if (fd_ >= 0) ::close(fd_);
  if (!temp_.empty()) ::unlink(temp_.c_str());
  fd_ = -1;
  temp_.clear();
}

int DurableFile::create(const std::string& destination) {
  discard();
  target_ = destination;
  struct stat status {};
  if (::lstat(destination.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(destination.c_str(), resolved) == nullptr) return errno;
    target_ = resolved;
  }
  const std::size_t slash = target_.rfind('/');
  const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
  std::string temp = target_.substr(0, base) + "." + target_.substr(base) + ".XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return errno;
  fd_ = fd;
  temp_ = std::move(temp);
  return 0;
}

int DurableFile::write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    // A write that stores nothing and reports no error has run out of room.
    if (n == 0) return ENOSPC;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

int DurableFile::commit() {
  int error = ::fsync(fd_) != 0 ? errno : 0;
  if (::close(fd_) != 0 && error == 0) error = errno;
  fd_ = -1;
  if (error == 0 && ::rename(temp_.c_str(), target_.c_str()) != 0) error = errno;
  if (error != 0) {
    discard();
    return error;
  }
  temp_.clear();
  const int directory = ::open(directory_of(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory >= 0) {
    ::fsync(directory);
    ::close(directory);
  }
  return 0;
}

}  // namespace reg7140
