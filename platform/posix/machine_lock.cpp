#include "platform/posix/machine_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace reg7140 {

MachineLock::~MachineLock() {
  // Closing the descriptor releases the lock.
  if (fd_ >= 0) ::close(fd_);
}

bool MachineLock::acquire(const std::string& host_directory) {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  int fd = ::open(host_directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  int result;
  do {
    result = ::flock(fd, LOCK_EX);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    // Running unlocked could interleave two runs' changes to the same files.
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

}  // namespace reg7140
