#include "platform/posix/raw_io.h"

#include <unistd.h>

#include <cerrno>

#include "platform/raw_file.h"

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
  const int error = write_fully(bytes, &done, [fd](std::string_view rest, std::size_t* count) {
    ssize_t n;
    do {
      n = ::write(fd, rest.data(), rest.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0) return errno;
    *count = static_cast<std::size_t>(n);
    return 0;
  });
  if (written != nullptr) *written = done;
  return error;
}

}  // namespace reg7140
