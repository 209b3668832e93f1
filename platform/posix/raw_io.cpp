#include "platform/posix/raw_io.h"

#include <unistd.h>

#include <cerrno>

namespace reg7140 {

ssize_t read_retrying(int fd, char* data, std::size_t size) {
  ssize_t n;
  do {
    n = ::read(fd, data, size);
  } while (n < 0 && errno == EINTR);
  return n;
}

int write_all(int fd, std::string_view bytes, std::size_t* written) {
  std::size_t done = 0;
  int error = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : ENOSPC;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (written != nullptr) *written = done;
  return error;
}

}  // namespace reg7140
