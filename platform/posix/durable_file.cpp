#include "platform/posix/durable_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/posix/raw_io.h"

namespace reg7140 {

namespace {

std::string directory_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Makes a rename in the directory survive a power loss. A failure is not reported: the new
// content is in place by then.
void sync_directory_of(const std::string& path) {
  const int directory = ::open(directory_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory >= 0) {
    ::fsync(directory);
    ::close(directory);
  }
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

int DurableFile::write(std::string_view bytes) { return write_all(fd_, bytes); }

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
  sync_directory_of(target_);
  return 0;
}

int replace_durably(const std::string& from, const std::string& to) {
  // The new content must be on disk before it takes the old file's place, or a crash could leave
  // an empty file under the old name.
  const int fd = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  int error = ::fsync(fd) != 0 ? errno : 0;
  ::close(fd);
  if (error == 0 && ::rename(from.c_str(), to.c_str()) != 0) error = errno;
  if (error == 0) sync_directory_of(to);
  return error;
}

}  // namespace reg7140
